#pragma once
// The day-count date type of stored files and device images: days since
// 1899-12-30 00:00 as a double, the fraction being the time of day. It holds
// wall-clock time without a time zone. Before the base day the integer part is
// negative and the fraction still counts forward from midnight (-1.25 is
// 1899-12-29 06:00), as the stored files expect.
#include <QDateTime>
#include <QString>
#include <cstdint>

using TDateTime = double;

// 2000-01-01 00:00:00.000: the base date of device time records that are
// empty or invalid.
constexpr TDateTime DeviceBaseDate = 36526.0;

// Builds a day count; false (Out untouched) when the fields are not a valid
// date and time (year 1..9999, hour < 24, minute and second < 60, ms < 1000).
bool TryEncodeDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second, int MSec,
                       TDateTime &Out);
// As TryEncodeDateTime; throws EKvRange "invalid date or time" on bad fields.
TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour = 0, int Minute = 0, int Second = 0,
                         int MSec = 0);

// Splits a day count into its fields, rounded to the nearest millisecond.
// Throws EKvRange for values outside years 1..9999 or not finite.
void DecodeDateTime(TDateTime Value, int &Year, int &Month, int &Day, int &Hour, int &Minute,
                    int &Second, int &MSec);

// Conversions to and from QDateTime. The wall-clock fields are kept as they
// are; the result carries Zone (local time by default).
QDateTime DateTimeToQDateTime(TDateTime Value, Qt::TimeSpec Zone = Qt::LocalTime);
TDateTime QDateTimeToDateTime(const QDateTime &Value);
// The local wall-clock time now.
TDateTime NowDateTime();

// Decodes the 7-byte device time record: year - 2000, month, day, hour,
// minute, second, hundredths of a second. A year byte of 255 (empty record)
// or fields that are not a valid date and time give DeviceBaseDate and false;
// otherwise the moment (milliseconds = hundredths * 10) and true.
bool DecodeDeviceTime7(const uint8_t *Bytes, TDateTime &Out);
// The 7-byte record of a moment, for writing the device clock. Throws EKvRange
// when the year is outside 2000..2254.
void EncodeDeviceTime7(TDateTime Value, uint8_t *Bytes);

// Formats with the day-count family's pattern letters: yyyy, yy, m, mm (month,
// or minutes right after h/hh), mmm and mmmm (short and long Russian month
// name), d, dd, h, hh, n, nn, s, ss, z, zzz; text in
// double or single quotes is copied, other characters are copied as they are.
// FormatDateTime("hh.nn.ss.zzz", v) gives "14.03.07.123".
QString FormatDateTime(const QString &Format, TDateTime Value);
