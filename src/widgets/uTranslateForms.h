#pragma once
// Translation of the visible texts of a window and of everything it owns:
// menu and action captions, window titles, labels, group boxes (panels), tab
// captions, buttons, check boxes, tool-button hints and every cell of a string grid.
class QObject;
class TMultiLingual;

void TranslateComponent(const TMultiLingual &Translator, QObject *Component);
