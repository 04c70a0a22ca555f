#pragma once
// The logic editors in the interface's language. The main window's walk
// turns captions, labels and buttons from the language shown before into the
// new one, and only in the windows it walks; the editors' dialogs live
// hidden between uses and the page's tool buttons show texts, not hints. Here
// every fixed text is put into the interface's language from the text it was
// made with, so a window that missed switches while hidden still comes out
// right.
#include <QString>
#include <functional>

class QWidget;

// Root and all it holds: window titles, labels, buttons with their hints,
// group boxes, tab captions, tool buttons, menus and actions, column headers
// of tables and trees, and hints of any widget. Items of lists, trees and
// combo boxes are the caller's (some are names read from files).
void TranslateTexts(QWidget *Root);

// Root translated so each time it is shown.
void TranslateWhenShown(QWidget *Root);

// Changed runs once each time the interface's language is switched, after the
// main window's walk: Qt tells every widget so (QEvent::LanguageChange), and
// the main window tells it too when Qt's own catalogue did not change.
void OnLanguageSwitch(QWidget *Probe, std::function<void()> Changed);

// The error box of the logic editors: the log takes Text as made (Russian),
// the box shows it in the interface's language.
void ShowLogicError(const QString &Text);
