#include "uUstavConversion.h"

namespace {
const TUstavConversion *GConversion = nullptr;
}

void SetUstavConversion(const TUstavConversion *Conversion) { GConversion = Conversion; }

const TUstavConversion *UstavConversion() { return GConversion; }

QString UstavRegValueText(int Reg, uint16_t Value) {
  return GConversion ? GConversion->RegValueText(Reg, Value) : QStringLiteral("?");
}

std::optional<uint16_t> UstavTextToRegValue(int Reg, const QString &Text) {
  return GConversion ? GConversion->TextToRegValue(Reg, Text) : std::nullopt;
}
