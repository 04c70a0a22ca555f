#pragma once
// "Значения": the values under the time cursors of the oscillogram page that
// registered last, on top of the main window. Its bounds are kept under
// "oscvalue"; closing it unchecks the page's "Значения" box.
#include <QDialog>
#include <QPointer>

class QTableWidget;
class TkvOscFrame;

class TOscValueForm : public QDialog {
  Q_OBJECT
public:
  explicit TOscValueForm(QWidget *Parent = nullptr);
  ~TOscValueForm() override;
  // The window the program made (the last one created), or null.
  static TOscValueForm *Instance();

  // The page whose values are shown; a page that closes is forgotten.
  void SetOscFrame(TkvOscFrame *Frame);
  TkvOscFrame *OscFrame() const;
  // Row Row (from 1) = name, the two values and the RMS text; rows are added as needed.
  void SetRow(int Row, const QString &Name, const QString &Value1, const QString &Value2, const QString &Rms);
  void SetRowCount(int Rows);

  QTableWidget *StringGrid = nullptr;

protected:
  void showEvent(QShowEvent *Event) override;
  void hideEvent(QHideEvent *Event) override;

private:
  QPointer<TkvOscFrame> FFrame;
};
