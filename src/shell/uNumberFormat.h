#pragma once
// Number texts of the pages: a fixed format chosen by magnitude, or a fixed
// number of digits. Always with a point as decimal separator, whatever the
// locale, because grids and files share the same texts.
#include <QString>

// Value > 100 "%3.0f"; > 10 "%4.1f"; > 1 "%4.2f"; > 0.001 "%5.3f"; otherwise
// (0, negative values, NaN) fixed with two decimals (-1 gives "-1.00"). The
// comparisons are strict. Exact ties round away from zero (2.5 with no digits
// gives "3").
QString FormatValue(double Value);

// Digits = 0 gives "%1.0f", otherwise "%<Digits+2>.<Digits>f". A negative
// digit count (a broken descriptor) is taken as 0.
QString FormatFixed(int Digits, double Value);
