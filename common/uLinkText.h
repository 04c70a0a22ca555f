#pragma once
// The engineer's texts of link failures, in one place for the status line,
// the chains and the application log. The transport names a failure by its
// Russian text (the key of the program's translation table, arguments filled
// in); the main thread shows and logs it in the interface's language.
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

namespace LinkTexts {
// The device kept silent for the whole time allowed.
inline constexpr const char *NoAnswer = "Нет ответа от устройства";
// Part of an answer came, the rest did not.
inline constexpr const char *ShortAnswer = "Неполный ответ устройства";
// A whole answer whose CRC-16 is wrong.
inline constexpr const char *BadCrc = "Ошибка контрольной суммы ответа";
// An answer that does not belong to its request: address, function, length or echo.
inline constexpr const char *BadAnswer = "Неверный ответ устройства";
// %1 host, %2 port: the peer hung up or reset the connection during an exchange.
inline constexpr const char *ConnectionLost = "Связь с %1:%2 разорвана";
// %1 host, %2 port: the connection could not be opened.
inline constexpr const char *CannotConnect = "Нет соединения с %1:%2";
// %1 port name, %2 the system's reason.
inline constexpr const char *PortUnavailable = "Порт %1 недоступен: %2";
// %1 port name, %2 the system's reason ("Permission denied"). The usual cause
// on a fresh machine: serial devices belong to the group "dialout", and a user
// outside it may not open them.
inline constexpr const char *PortNoAccess = "Порт %1 недоступен: %2; пользователь должен входить в группу \"dialout\"";
// A request held to the Modbus TCP connection its identity check ran on,
// not sent: another connection has been made since, whoever made it.
inline constexpr const char *NotSentReconnected =
    "Запрос не отправлен: соединение установлено заново, устройство не проверено";
// %1 the Modbus exception code as two lowercase hexadecimal digits.
inline constexpr const char *DeviceError = "Ошибка устройства %1";
// Exception 06 with its reason: the device was busy, after every repeat.
inline constexpr const char *DeviceBusy = "Ошибка устройства 06: устройство занято";
} // namespace LinkTexts

// The code of each kind of link failure in the application log, one of its
// own for every kind: the status byte alone mixes them up (a bad CRC, status
// 6, reads like exception 06).
namespace LinkCodes {
inline constexpr const char *Timeout = "timeout";          // nothing came
inline constexpr const char *ShortAnswer = "short-answer"; // part of an answer came
inline constexpr const char *BadCrc = "bad-crc";
inline constexpr const char *WrongAddress = "wrong-address";
inline constexpr const char *WrongFunction = "wrong-function";
// Another length, byte count or echo than the request's, or an answer that
// was followed by another.
inline constexpr const char *WrongAnswer = "wrong-answer";
inline constexpr const char *ConnectionLost = "connection-lost";
inline constexpr const char *NoConnection = "no-connection";
inline constexpr const char *PortUnavailable = "port-unavailable";
// A request held to a connection that is gone or another: not sent.
inline constexpr const char *NotSent = "not-sent";
inline constexpr const char *BadGuard = "bad-guard"; // a request record with wrong guard words
inline constexpr const char *Failed = "failed";      // the command itself failed (its text tells)
} // namespace LinkCodes

// "Ошибка устройства 04": a device exception, with its code; exception 06
// gives DeviceBusy.
QString DeviceErrorText(uint8_t Code);
// "exception-06": the log code of a device exception, with its code.
QString DeviceErrorCode(uint8_t Code);
// The log code of a failure known by its status byte and Russian text alone
// (the worker sends its own code beside them): by the text where it names the
// kind, else by the status.
QString LinkFailureCode(uint8_t Status, const QString &Cause);

// The Russian text of a failed answer: the worker's Cause when it has one,
// else, by the status byte alone, "Нет ответа от устройства" for the
// transport's "no answer" statuses (1 and 4) and the device error otherwise.
QString LinkFailureText(uint8_t Status, const QString &Cause);

// The pattern that matches a text made from Template, each "%N" standing for
// any text, captured in the order of N.
QRegularExpression TextTemplatePattern(const QString &Template);
// Template with each "%N" replaced by Args[N - 1] (markers beyond Args kept).
QString FillTextTemplate(const QString &Template, const QStringList &Args);

// Text in the interface's language: a Russian link text, its arguments kept;
// any other text as the translator gives it. Main thread.
QString LocalLinkText(const QString &RussianText);
// Whether Text is a link failure text, in Russian or in the interface's language.
bool IsLinkFailureText(const QString &Text);

// Translates one Russian table key into the interface's language; the
// program installs it with its translation table (by default texts stay
// Russian). Main thread.
void SetLinkTextTranslator(std::function<QString(const QString &)> Translator);
