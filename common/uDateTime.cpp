#include "uDateTime.h"

#include "uErrors.h"
#include "uLinkText.h"

#include <cmath>

namespace {
constexpr qint64 MsPerDay = 86400000;
// QDate's Julian day of 1899-12-30, day 0 of the day count. A constant, not
// computed: dates built while other units' globals are initialised need it.
constexpr qint64 BaseJulianDay = 2415019;
} // namespace

bool TryEncodeDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second, int MSec,
                       TDateTime &Out) {
  if (Year < 1 || Year > 9999 || !QDate::isValid(Year, Month, Day))
    return false;
  if (Hour < 0 || Hour > 23 || Minute < 0 || Minute > 59 || Second < 0 || Second > 59 || MSec < 0 ||
      MSec > 999)
    return false;
  const double days = double(QDate(Year, Month, Day).toJulianDay() - BaseJulianDay);
  const double frac = double(((Hour * 60 + Minute) * 60 + Second) * 1000 + MSec) / double(MsPerDay);
  // Before the base day the fraction is added to the magnitude.
  Out = days < 0 ? days - frac : days + frac;
  return true;
}

TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second, int MSec) {
  TDateTime v;
  if (!TryEncodeDateTime(Year, Month, Day, Hour, Minute, Second, MSec, v))
    throw EKvRange("invalid date or time");
  return v;
}

void DecodeDateTime(TDateTime Value, int &Year, int &Month, int &Day, int &Hour, int &Minute,
                    int &Second, int &MSec) {
  // 1..9999 in day counts: -693593 .. 2958466.
  if (!std::isfinite(Value) || Value <= -693594.0 || Value >= 2958466.0)
    throw EKvRange("invalid date or time: " + std::to_string(Value));
  double days = std::trunc(Value);
  qint64 ms = std::llround(std::fabs(Value - days) * double(MsPerDay));
  if (ms >= MsPerDay) {
    // Rounding carried into the next day (away from the base day when negative).
    ms -= MsPerDay;
    days += Value < 0 ? -1 : 1;
  }
  // A negative count with a fraction is still that same day; "-0.5" is day 0 noon.
  const QDate d = QDate::fromJulianDay(BaseJulianDay + qint64(days));
  Year = d.year();
  Month = d.month();
  Day = d.day();
  Hour = int(ms / 3600000);
  Minute = int(ms / 60000 % 60);
  Second = int(ms / 1000 % 60);
  MSec = int(ms % 1000);
}

QDateTime DateTimeToQDateTime(TDateTime Value, Qt::TimeSpec Zone) {
  int y, mo, d, h, mi, s, ms;
  DecodeDateTime(Value, y, mo, d, h, mi, s, ms);
  return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Zone);
}

TDateTime QDateTimeToDateTime(const QDateTime &Value) {
  const QDate d = Value.date();
  const QTime t = Value.time();
  return EncodeDateTime(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec());
}

TDateTime NowDateTime() { return QDateTimeToDateTime(QDateTime::currentDateTime()); }

bool DecodeDeviceTime7(const uint8_t *Bytes, TDateTime &Out) {
  Out = DeviceBaseDate;
  if (Bytes[0] == 255)
    return false;
  TDateTime v;
  if (!TryEncodeDateTime(2000 + Bytes[0], Bytes[1], Bytes[2], Bytes[3], Bytes[4], Bytes[5], Bytes[6] * 10, v))
    return false;
  Out = v;
  return true;
}

void EncodeDeviceTime7(TDateTime Value, uint8_t *Bytes) {
  int y, mo, d, h, mi, s, ms;
  DecodeDateTime(Value, y, mo, d, h, mi, s, ms);
  // 255 marks an empty record, so 2254 is the last year a record can carry.
  if (y < 2000 || y > 2254)
    throw EKvRange("device time out of range: year " + std::to_string(y));
  Bytes[0] = uint8_t(y - 2000);
  Bytes[1] = uint8_t(mo);
  Bytes[2] = uint8_t(d);
  Bytes[3] = uint8_t(h);
  Bytes[4] = uint8_t(mi);
  Bytes[5] = uint8_t(s);
  Bytes[6] = uint8_t(ms / 10);
}

QString FormatDateTime(const QString &Format, TDateTime Value) {
  int y, mo, d, h, mi, s, ms;
  DecodeDateTime(Value, y, mo, d, h, mi, s, ms);
  auto pad = [](int v, int width) { return QString::number(v).rightJustified(width, '0'); };
  QString out;
  bool afterHour = false; // "m" right after an hour field means minutes
  const qsizetype n = Format.size();
  qsizetype i = 0;
  while (i < n) {
    const QChar c = Format[i];
    const QChar lc = c.toLower();
    if (c == '"' || c == '\'') {
      const qsizetype end = Format.indexOf(c, i + 1);
      const qsizetype stop = end < 0 ? n : end;
      out += Format.mid(i + 1, stop - i - 1);
      i = stop + 1;
      continue;
    }
    qsizetype run = 1;
    while (i + run < n && Format[i + run].toLower() == lc)
      ++run;
    if (lc == 'y') {
      out += run >= 3 ? pad(y, 4) : pad(y % 100, 2);
      afterHour = false;
    } else if (lc == 'm' && run >= 3 && !afterHour) {
      // Month names are the Russian ones, as the device's users read them,
      // shown in the interface's language (the title panel's date formats).
      static const char *const shortNames[] = {"янв", "фев", "мар", "апр", "май", "июн",
                                               "июл", "авг", "сен", "окт", "ноя", "дек"};
      static const char *const longNames[] = {"январь", "февраль", "март",    "апрель",  "май",    "июнь",
                                              "июль",   "август",  "сентябрь", "октябрь", "ноябрь", "декабрь"};
      out += LocalLinkText(QString::fromUtf8(run >= 4 ? longNames[mo - 1] : shortNames[mo - 1]));
      afterHour = false;
    } else if (lc == 'm') {
      const int v = afterHour ? mi : mo;
      out += run >= 2 ? pad(v, 2) : QString::number(v);
      afterHour = false;
    } else if (lc == 'd') {
      out += run >= 2 ? pad(d, 2) : QString::number(d);
      afterHour = false;
    } else if (lc == 'h') {
      out += run >= 2 ? pad(h, 2) : QString::number(h);
      afterHour = true;
    } else if (lc == 'n') {
      out += run >= 2 ? pad(mi, 2) : QString::number(mi);
      afterHour = false;
    } else if (lc == 's') {
      out += run >= 2 ? pad(s, 2) : QString::number(s);
      afterHour = false;
    } else if (lc == 'z') {
      out += run >= 3 ? pad(ms, 3) : QString::number(ms);
      afterHour = false;
    } else {
      out += Format.mid(i, run);
      i += run;
      continue; // separators keep the hour context: "hh:mm" is minutes
    }
    i += run;
  }
  return out;
}
