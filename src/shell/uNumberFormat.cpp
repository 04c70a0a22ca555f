#include "uNumberFormat.h"

QString FormatValue(double Value) {
  if (Value > 100)
    return QString::asprintf("%3.0f", Value);
  if (Value > 10)
    return QString::asprintf("%4.1f", Value);
  if (Value > 1)
    return QString::asprintf("%4.2f", Value);
  if (Value > 0.001)
    return QString::asprintf("%5.3f", Value);
  // The fixed format of the family these texts follow has two decimals.
  return QString::asprintf("%.2f", Value);
}

QString FormatFixed(int Digits, double Value) {
  if (Digits <= 0)
    return QString::asprintf("%1.0f", Value);
  // Width and precision as arguments: the same text as the format built from
  // the digit count, without assembling a format string at run time.
  return QString::asprintf("%*.*f", Digits + 2, Digits, Value);
}
