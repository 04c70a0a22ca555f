#include "uLogicTexts.h"

#include "uLinkText.h"
#include "uMultiLingual.h"

#include <QRegularExpression>
#include <vector>

const QStringList &LogicTextTemplates() {
  // The longer of two templates that share a beginning comes first.
  static const QStringList t = {
      QStringLiteral("gid занят, модуль %1"),
      QStringLiteral("В конфигураторе не найдена функция %1"),
      QStringLiteral("Двоичное значение длиннее 16 разрядов: %1"),
      QStringLiteral("не найден идентификатор modbus %1, функция: %2"),
      QStringLiteral("не найден идентификатор modbus %1"),
      QStringLiteral("не привязан к modbus параметр %1"),
      QStringLiteral("не задано измерение для событий %1"),
      QStringLiteral("не найдено измерение для событий %1"),
      QStringLiteral("не задан регистр modbus для событий %1"),
      QStringLiteral("не задано измерение для осциллограммы %1"),
      QStringLiteral("не найдено измерение для осциллограммы %1"),
      QStringLiteral("не задан регистр modbus для osc %1"),
      QStringLiteral("не привязан к modbus битовый регистр %1"),
      QStringLiteral("Нет записей для пункта меню %1"),
      QStringLiteral("%1 не найден id %2"),
      QStringLiteral("адрес начала: %1"),
      QStringLiteral("адрес окончания: %1"),
      QStringLiteral("Не найдено измерение для события %1"),
      QStringLiteral("не определена связь: type=%1"),
      QStringLiteral("недостаточно строк уставок, функция: %1"),
      QStringLiteral("не определена уставка, функция: %1, уставка: %2"),
      QStringLiteral("не определена альтернативная уставка, функция: %1, группа: %2"),
      QStringLiteral("Размер области SRAM %1, требуется %2"),
      QStringLiteral("Недопустимый идентификатор измерения %1"),
      QStringLiteral("Недопустимый адрес исполняемого кода %1"),
      QStringLiteral("Код логики (%1 байт) не помещается в область кода прибора (%2 байт)"),
      QStringLiteral("Уставка или параметр %1: значение %2 вне пределов %3..%4"),
  };
  return t;
}

namespace {
QString LocalLine(const QString &Line) {
  const TMultiLingual &ml = MultiLingual();
  if (const QString whole = ml.FromRussian(Line); whole != Line)
    return whole;
  static const std::vector<QRegularExpression> patterns = [] {
    std::vector<QRegularExpression> p;
    for (const QString &t : LogicTextTemplates())
      p.push_back(TextTemplatePattern(t));
    return p;
  }();
  for (size_t i = 0; i < patterns.size(); ++i) {
    const QString &t = LogicTextTemplates()[qsizetype(i)];
    const QRegularExpressionMatch m = patterns[i].match(Line);
    if (!m.hasMatch())
      continue;
    QStringList args = m.capturedTexts();
    args.removeFirst();
    return FillTextTemplate(ml.FromRussian(t), args);
  }
  return Line;
}
} // namespace

QString LocalLogicText(const QString &Russian) {
  if (const QString whole = MultiLingual().FromRussian(Russian); whole != Russian)
    return whole;
  QStringList lines = Russian.split(u'\n');
  for (QString &line : lines) {
    const bool cr = line.endsWith(u'\r');
    line = LocalLine(cr ? line.chopped(1) : line) + (cr ? QStringLiteral("\r") : QString());
  }
  return lines.join(u'\n');
}
