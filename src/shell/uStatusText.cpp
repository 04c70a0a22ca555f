#include "uStatusText.h"

#include "uLinkText.h"
#include "uMultiLingual.h"

bool IsErrorStatusText(const QString &Text) {
  return Text.contains(QStringLiteral("Ошибка")) || IsLinkFailureText(Text);
}

QString ShownText(const QString &Text) {
  const QString shown = MultiLingual().TranslateMessage(Text);
  return shown != Text ? shown : LocalLinkText(Text);
}
