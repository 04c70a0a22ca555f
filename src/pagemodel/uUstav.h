#pragma once
// One setpoint of the setpoints page and the local set editor, without
// widgets: where its value lies in each group, its limits and scaling, and
// how a register value becomes text and back (secondary or primary units).
#include "ixml.h"

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class TModbus;

class TUstav {
public:
  static constexpr int MaxGroups = 8;
  // Reads the setpoint element Node (an "ustav-num" or "ustav-enum"). Throws
  // EKvError "invalid word-measure-ider" when the linked measurement is
  // missing, "invalid FMaxVal" for a word-max of 0 unless Signed with a
  // word-min other than 0.
  explicit TUstav(const IXXMLNode &Node);
  virtual ~TUstav() = default;

  char RecordType = 0; // '1' enumeration, '2' number, '5' bit set, 0 not converted
  int LevelMask = 0;
  int Ider = 0;
  QString Name;
  QStringList Strings;
  // The bits of its word the descriptor names (a bit set: one per position,
  // the first ones); every bit for any other setpoint. The relay may keep
  // the others as it likes.
  uint16_t NamedBits = 0xFFFF;
  int Access = 0;
  int Mult = 1, Divisor = 1;
  int MvpValue = 1, MvsValue = 1;
  int MvpReg = 65535, MvsReg = 65535;
  int Decimals = 0;
  int FMinVal = 0, FMaxVal = 65535;
  // The linked measurement's value is in two's-complement code: word-min and
  // word-max are compared as -32768..32767.
  bool Signed = false;
  // Register of group g (0-based); -1 when the descriptor gives none (absent,
  // 65535 or past the register image): such a value is never read or written.
  std::array<int, MaxGroups> Regs{};

  bool CanRead() const { return Access & 1; }
  bool CanWrite() const { return Access & 2; }
  int Reg(int Group) const { return Group >= 0 && Group < MaxGroups ? Regs[size_t(Group)] : -1; }

  // Every text of a Signed number shows its word as -32768..32767 and every
  // number typed gives the word of that code, so the pages, the controls and
  // the limit check read one value.
  virtual QString ValueToText(int Value, bool Primary) const;
  // Throws EKvError NotNumberText for text that is not a number, EKvRange
  // OutOfRangeText outside 0..65535 (-32768..32767 when Signed).
  virtual int TextToValue(const QString &Text, bool Primary) const;
  // The number entered ("," taken as "."), as a register word 0..65535;
  // throws as TextToValue.
  int TextNumber(const QString &Text, bool Primary) const;
  // Register value Value as a number in the page's units.
  QString NumberText(int Value, bool Primary) const;
  // The number a register word stands for: Word itself, or its two's
  // complement reading when Signed.
  int WordNumber(int Word) const;
  // The value Word of the register as this row stands for it: a bit row sets
  // or clears its bit in Old, other rows give Value itself.
  virtual int Apply(int Old, int Value) const { return Value; }
  // Two register words differ as far as this row is concerned.
  virtual bool Differs(int A, int B) const { return A != B; }
  // The bits of its register this row edits and writes.
  virtual uint16_t EditMask() const { return 0xFFFF; }
  // The limit report line for raw value V ("" inside the limits):
  // CR LF, "Помилка", the name in double quotes, "<" or ">", the limit.
  QString LimitLine(int V, bool Primary) const;
  // Takes the rated values of the linked measurement from Image (a value of
  // 0 counts as 1).
  void UpdateMeasureFactors(const TModbus &Image);

protected:
  TUstav() = default;
};

// One position of a bit-set setpoint, shown as a row of its own ("Нет"/"Да").
class TUstavBit : public TUstav {
public:
  TUstavBit(const TUstav &Owner, int Bit, const QString &BitName);
  int Bit = 0;
  QString ValueToText(int Value, bool Primary) const override;
  int TextToValue(const QString &Text, bool Primary) const override;
  int Apply(int Old, int Value) const override;
  bool Differs(int A, int B) const override { return ((A ^ B) >> Bit) & 1; }
  uint16_t EditMask() const override { return uint16_t(1u << Bit); }
};

using TUstavList = std::vector<std::unique_ptr<TUstav>>;

// The readable setpoints under Root's "ustav" in document order; with
// ExpandBits a bit set gives one row per named position.
TUstavList BuildUstavList(const IXXMLNode &Root, bool ExpandBits);
