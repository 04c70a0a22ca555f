#include "uStatusText.h"

#include "uLinkText.h"

bool IsErrorStatusText(const QString &Text) {
  return Text.contains(QStringLiteral("Ошибка")) || IsLinkFailureText(Text);
}
