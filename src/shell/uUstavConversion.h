#pragma once
// How the setpoint controls of the title panel and the device boards turn a
// setpoint register's word into text and back: the setpoints page knows each
// setpoint's kind, scale and unit, so the main window hands that page to the
// controls through this one interface. Main thread only.
#include <QString>
#include <cstdint>
#include <optional>

class TUstavConversion {
public:
  virtual ~TUstavConversion() = default;
  // The text of Value for the setpoint at register Reg; "?" when no setpoint
  // has that register.
  virtual QString RegValueText(int Reg, uint16_t Value) const = 0;
  // The word for Text at register Reg; nothing when no setpoint has that
  // register. Throws EKvError when Text does not convert.
  virtual std::optional<uint16_t> TextToRegValue(int Reg, const QString &Text) const = 0;
};

// The conversion the controls use; nullptr (the start) behaves as a page that
// knows no setpoint. Not owned.
void SetUstavConversion(const TUstavConversion *Conversion);
const TUstavConversion *UstavConversion();
// The two calls through the conversion set now, with the no-page answers.
QString UstavRegValueText(int Reg, uint16_t Value);
std::optional<uint16_t> UstavTextToRegValue(int Reg, const QString &Text);
