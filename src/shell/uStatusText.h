#pragma once
// Which status-line texts report a failure: those turn the tool bar red.
#include <QString>

// Texts holding "Ошибка", and the link failures "Нет ответа от устройства",
// "Нет соединения с HOST:PORT" and "Порт NAME недоступен: REASON".
bool IsErrorStatusText(const QString &Text);
