#include "uStatusText.h"

bool IsErrorStatusText(const QString &Text) {
  return Text.contains(QStringLiteral("Ошибка")) || Text.startsWith(QStringLiteral("Нет ответа от устройства")) ||
         Text.startsWith(QStringLiteral("Нет соединения с ")) ||
         (Text.startsWith(QStringLiteral("Порт ")) && Text.contains(QStringLiteral(" недоступен: ")));
}
