// Shows one page of the main window (or a designer over it) against the
// in-process demo terminal and saves a picture of the window:
// `screenshot_page PAGE OUT.png`. PAGE is a
// row of the table below, or the object name or caption of a tab.
// scripts/screenshot-page.sh runs it under a virtual X server.
#include "uControlPlacer.h"
#include "uControls.h"
#include "uCustomFrame.h"
#include "uDemoSession.h"
#include "uDashboardFrame.h"
#include "uDeviceBoardFrame.h"
#include "uDeviceboardSetup.h"
#include "uEventFrame.h"
#include "uEventPDFReportFrame.h"
#include "uMessageSink.h"
#include "uFileDialogSink.h"
#include "uIdentification.h"
#include "uLogger.h"
#include "uOscFrame.h"
#include "uOscHeadFrame.h"
#include "uOscNoteForm.h"
#include "uOscSetupForm.h"
#include "uOscValueForm.h"
#include "uPageControlHelper.h"
#include "uParamFrame.h"
#include "uPreferenceForm.h"
#include "uPrintDialog.h"
#include "uReportPainter.h"
#include "uStringGrid.h"
#include "uStringGridEditor.h"
#include "uUnitPropertyForm.h"
#include "uUstavFrame.h"
#include "uUstavLocalFrame.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QCheckBox>
#include <QTabWidget>
#include <functional>
#include <iostream>

namespace {
// A page and what is done on it before the picture (an edit, a dialog).
struct TPageShot {
  const char *Name;
  const char *Tab; // object name of the tab
  std::function<void(TDemoSession &)> Prepare;
  // The window pictured instead of the main window (a designer).
  std::function<QWidget *(TDemoSession &)> Window = {};
  // The whole screen, with the menus that pop up over the window.
  bool Screen = false;
};

// The demo's device boards beside the program, and their tab open.
TkvDeviceBoardFrame *OpenBoards(TDemoSession &S) {
  QFile::copy(KV_SOURCE_DIR "/tools/devsim/deviceFrame.xml", S.Dir.filePath("deviceFrame.xml"));
  S.Form->NDeviceBoard->trigger();
  return S.Form->findChild<TkvDeviceBoardFrame *>();
}

// Ctrl+R on the page shown, as a user presses it.
void PressRefresh(TDemoSession &S) {
  S.Form->activateWindow();
  if (!QTest::qWaitForWindowActive(S.Form.get()))
    std::cerr << "the window is not active: Ctrl+R may go nowhere\n";
  QTest::keyClick(S.Form.get(), Qt::Key_R, Qt::ControlModifier);
}

// The drop-down list of the enumerated setpoint's group 1 cell, open.
void OpenDirectionList(TUstavGridFrame *F) {
  for (int r = 1; r < F->sgUstav->rowCount(); ++r)
    if (F->sgUstav->Cells(1, r) == QStringLiteral("Направленность МТЗ-1")) {
      F->sgUstav->setCurrentCell(r, 2);
      F->Editor()->StartEdit();
    }
}

// Text typed into the value cell of the parameter at register Reg and Return
// pressed, as a user edits it.
void TypeParam(TDemoSession &S, int Reg, const QString &Text) {
  TkvParamFrame *f = S.Form->ParamFrame;
  for (int r = 1; r < f->sgParam->rowCount(); ++r)
    if (f->RowReg(r) == Reg) {
      f->sgParam->setCurrentCell(r, 2);
      f->Editor()->StartEdit();
      f->Editor()->Edit->setText(Text);
      QTest::keyClick(f->Editor()->Edit, Qt::Key_Return);
    }
}

// The same in cell (Col, Row) of a setpoint grid.
void TypeUstav(TUstavGridFrame *F, int Col, int Row, const QString &Text) {
  F->sgUstav->setCurrentCell(Row, Col);
  F->Editor()->StartEdit();
  F->Editor()->Edit->setText(Text);
  QTest::keyClick(F->Editor()->Edit, Qt::Key_Return);
}

// The grid row of the setpoint whose group 1 lies at register Reg, or -1.
int UstavRow(TUstavGridFrame *F, int Reg) {
  for (int r = 1; r < F->sgUstav->rowCount(); ++r)
    if (F->RowUstav(r) && F->RowUstav(r)->Reg(0) == Reg)
      return r;
  return -1;
}

// The relay answers the write of Reg and then refuses to read it back with
// 0B (the target failed to respond), both the read-back and the read the
// write makes after its failure; Before reads of Reg (the ones the write
// decides against) are answered first.
void FailReadBack(TDemoSession &S, int Reg, int Before) {
  TSimFault refused;
  refused.Kind = TSimFaultKind::Exception;
  refused.Value = SIM_EX_TARGET_FAILED;
  refused.Function = SIM_FN_READ_HOLDING;
  refused.Register = Reg;
  refused.After = Before;
  refused.Count = 2;
  S.Device.SetFault(refused);
}

// The mouse resting on cell (Col, Row) of Grid: its tooltip shows, as the
// delegate gives it.
void HoverCell(QTableWidget *Grid, int Col, int Row) {
  const QPoint at = Grid->visualRect(Grid->model()->index(Row, Col)).center();
  QHelpEvent hover(QEvent::ToolTip, at, Grid->viewport()->mapToGlobal(at));
  QCoreApplication::sendEvent(Grid->viewport(), &hover);
  QTest::qWait(300);
}

// The demo's title panel file beside the program, loaded as an identification
// loads it, and read from the relay identified last.
void ShowPanel(TDemoSession &S) {
  QFile::copy(KV_SOURCE_DIR "/tools/devsim/dashboard.XML", S.Form->Settings().DashboardFile);
  S.Identify();
  S.Form->DashboardFrame->Refresh();
}

// The demo terminal swapped for the second one behind the same link, with no
// gap the program could see; the new relay's group 2 current (6100) tells its
// values from the old one's.
void SwapToSecondTerminal(TDemoSession &S) {
  LoadDemoDevice(S.Device, 2);
  S.Device.SetRegister(TSimArea::Holding, DemoDevice::UstavReg2Other, 6100);
}

QString OutFile;
// A row that pictured the screen itself, at the moment that mattered.
bool Pictured = false;

// The newest oscillogram read with its events; "Все события" in the set-up
// dialog puts every event on the plot.
TkvOscFrame *ReadNewestOsc(TDemoSession &S) {
  PressRefresh(S);
  S.WaitIdle();
  TkvOscFrame::SetupOpener = [](TkvOscFrame &Frame) {
    TOscSetupForm form(&Frame);
    form.LoadChannels(Frame.Drawers(), Frame.Events());
    form.cbAllEvent->click();
    form.ApplyChannels(Frame.Drawers());
    return true;
  };
  S.Form->OscHeadFrame->cbEvents->setEnabled(true);
  S.Form->OscHeadFrame->cbEvents->setChecked(true);
  S.Form->OscHeadFrame->sgOscHeadDblClick(1);
  S.WaitIdle();
  TkvOscFrame *frame = S.Form->ActiveOscFrame();
  if (frame)
    frame->RunSetup();
  return frame;
}

// The mouse as a user moves it on the plot of the newest oscillogram.
TkvOscFrame *PlaceCursorsAndNote(TDemoSession &S) {
  TkvOscFrame *frame = ReadNewestOsc(S);
  if (!frame)
    return nullptr;
  // The three phase currents and the first discrete input, zoomed in twice.
  TkvOscFrame::SetupOpener = [](TkvOscFrame &Frame) {
    int analog = 0, discrete = 0;
    for (TOscDrawer *d : Frame.Drawers())
      d->SetChecked(d->IsAnalog() ? ++analog <= 3 : ++discrete <= 1);
    return true;
  };
  frame->RunSetup();
  // Taller strips, as Ctrl+Shift and the wheel make them: the set-up keeps heights.
  for (int i = 0; i < 3; ++i)
    frame->ZoomHeights(1);
  frame->ActionTimePlusExecute();
  frame->ActionTimePlusExecute();
  frame->cbVectorDiagram->click();
  frame->cbOscValueForm->click();
  QTest::qWait(200);
  QWidget *plot = frame->PaintBox;
  const int y = frame->Drawers()[0]->CenterY;
  QTest::mouseClick(plot, Qt::LeftButton, {}, QPoint(plot->width() / 3, 5));
  QTest::mouseClick(plot, Qt::LeftButton, {}, QPoint(plot->width() / 2, 5));
  QTest::mouseClick(plot, Qt::LeftButton, Qt::ShiftModifier, QPoint(plot->width() * 2 / 3, y - 20));
  QTest::mouseClick(plot, Qt::LeftButton, Qt::ControlModifier, QPoint(plot->width() * 3 / 4, y - 10));
  if (TOscValueForm *values = TOscValueForm::Instance())
    values->move(900, 450);
  return frame;
}

const TPageShot Shots[] = {
    {"dashboard", "TabSheetDashboard", {}},
    {"param", "TabSheetParam", {}},
    // One value typed and not yet written: its cell turns yellow.
    {"param-edited", "TabSheetParam",
     [](TDemoSession &S) { TypeParam(S, DemoDevice::ScaledReg, QStringLiteral("15.5")); }},
    {"ustav", "TabSheetUstav", {}},
    // Edit mode with one value changed and not yet written.
    {"ustav-edit", "TabSheetUstav",
     [](TDemoSession &S) {
       TUstavFrame *f = S.Form->UstavFrame;
       f->SetEditMode(true);
       TypeUstav(f, 2, 2, QStringLiteral("650"));
     }},
    // Ctrl+R on the journal page reads the journal from the device.
    {"event", "TabSheetEvent", [](TDemoSession &S) { PressRefresh(S); }},
    {"osc", "TabSheetOscHeader", [](TDemoSession &S) { PressRefresh(S); }},
    {"osc-read", "TabSheetOscHeader", [](TDemoSession &S) { ReadNewestOsc(S); }},
    // The whole screen: the phasor diagram, two time cursors, a value cursor,
    // a note and the value window over the demo oscillogram.
    {"osc-cursors", "TabSheetOscHeader", [](TDemoSession &S) { PlaceCursorsAndNote(S); },
     [](TDemoSession &) -> QWidget * { return nullptr; }},
    // The note window on that note, shown as the right button shows it.
    {"osc-note", "TabSheetOscHeader",
     [](TDemoSession &S) {
       TkvOscFrame *frame = PlaceCursorsAndNote(S);
       TOscNoteForm *form = TOscNoteForm::Instance();
       form->SetNote(frame ? frame->Drawers()[0]->Settings.Notes.back().get() : nullptr);
       form->show();
     },
     [](TDemoSession &) -> QWidget * { return TOscNoteForm::Instance(); }},
    // Ctrl+P on that page, the print dialog answered with a PDF file beside
    // the picture (OUT.pdf); the script renders its page.
    {"osc-print", "TabSheetOscHeader",
     [](TDemoSession &S) {
       PlaceCursorsAndNote(S);
       SetPrintDialogOpener(PdfFileOpener(QString(OutFile).replace(QStringLiteral(".png"), QStringLiteral(".pdf"))));
       S.Form->aoPrint->trigger();
     }},
    // The period report of the read journal with every measurement and
    // signal ticked, saved as a PDF beside the picture (OUT.pdf).
    {"event-report", "TabSheetEvent",
     [](TDemoSession &S) {
       QFile::copy(KV_SOURCE_DIR "/src/resources/EventReportTemplate.xml", S.Dir.filePath("EventReportTemplate.xml"));
       S.Form->EventFrame->ReadEventLog();
       S.WaitIdle();
       S.Form->NEventReport->trigger();
       auto *frame = S.Form->PageControl->currentWidget()->findChild<TEventPDFReportFrame *>();
       if (!frame)
         return;
       frame->PageControl->setCurrentIndex(1);
       for (QListWidget *list : {frame->CheckListBoxLevel, frame->CheckListBoxMeasure, frame->CheckListBoxPermanent,
                                 frame->CheckListBoxVariable})
         for (int i = 0; i < list->count(); ++i)
           list->item(i)->setCheckState(Qt::Checked);
       const QString pdf = QString(OutFile).replace(QStringLiteral(".png"), QStringLiteral(".pdf"));
       SetReportPreviewHook([pdf](const TReportDocument &Doc) { SaveReportPdf(Doc, pdf); });
       frame->Button1->click();
     }},
    // The preference window lists the open oscillogram.
    {"preferences", "TabSheetOscHeader",
     [](TDemoSession &S) {
       ReadNewestOsc(S);
       S.Form->Forms().PreferenceForm->show();
     },
     [](TDemoSession &S) -> QWidget * { return S.Form->Forms().PreferenceForm; }},
    // The spreadsheet tab with the parameters, then a local setpoint set tab.
    {"local-set", "TabSheetParam",
     [](TDemoSession &S) {
       S.Form->ExcelCommand();
       S.Form->PageControl->setCurrentWidget(S.Form->TabSheetUstav);
       S.Form->UstavFrame->SaveToFile(S.Dir.filePath("tempustav.xml"));
       S.Form->OpenLocalSet(S.Dir.filePath("tempustav.xml"), QStringLiteral("Редактирование уставок      "));
     }},
    // The drop-down editor open over "Направленность МТЗ-1" in edit mode, and
    // in a local set of the device's values, at the window's default size.
    {"ustav-dropdown", "TabSheetUstav",
     [](TDemoSession &S) {
       S.Form->setGeometry(0, 0, 1000, 680);
       S.Form->UstavFrame->SetEditMode(true);
       OpenDirectionList(S.Form->UstavFrame);
     },
     [](TDemoSession &) -> QWidget * { return nullptr; }},
    {"local-dropdown", "TabSheetUstav",
     [](TDemoSession &S) {
       S.Form->setGeometry(0, 0, 1000, 680);
       S.Form->UstavFrame->SaveToFile(S.Dir.filePath("tempustav.xml"));
       OpenDirectionList(
           S.Form->OpenLocalSet(S.Dir.filePath("tempustav.xml"), QStringLiteral("Редактирование уставок      ")));
     },
     [](TDemoSession &) -> QWidget * { return nullptr; }},
    // The boards tab on its first board, read from the device.
    {"boards", "TabSheetDashboard", [](TDemoSession &S) { OpenBoards(S); }},
    // The board designer on the first board, a measure selected in the docked property editor.
    {"designer", "TabSheetDashboard",
     [](TDemoSession &S) {
       TkvDeviceBoardFrame *boards = OpenBoards(S);
       S.WaitIdle();
       TDeviceboardSetupForm *d = S.Form->Forms().DeviceboardSetupForm;
       d->SetDescriptor(S.Form->Descriptor());
       d->SetPropertyForm(S.Form->Forms().PropertyForm);
       d->LoadFrom(boards->Panel);
       d->setGeometry(20, 20, 1300, 700);
       d->show();
       for (QWidget *w : ControlsOf(d->PanelContainer, true))
         if (auto *m = qobject_cast<TMeasureLabeledEdit *>(w)) {
           d->Placer()->PlaceNodes(m);
           d->SelectControl(m);
           break;
         }
     },
     [](TDemoSession &S) -> QWidget * { return S.Form->Forms().DeviceboardSetupForm; }},
    // The device menu open on the parameters page, as a user clicks it.
    {"menus", "TabSheetParam",
     [](TDemoSession &S) {
       S.Form->activateWindow();
       // A window that never becomes active still gets its picture: a person judges it.
       (void)QTest::qWaitForWindowActive(S.Form.get());
       QMenuBar *bar = S.Form->menuBar();
       QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(S.Form->NDevice->menuAction()).center());
     },
     {}, true},
    // The log pane after the identification, with a line of each level at its end.
    {"log", "TabSheetDashboard",
     [](TDemoSession &S) {
       S.Form->OpenLogTab();
       Logger().Info(QStringLiteral("an information line shows in navy"));
       Logger().Error(QStringLiteral("an error line shows in red"));
     }},
    // The title panel of the demo's panel file, read from the demo terminal.
    {"panel", "TabSheetDashboard", [](TDemoSession &S) { ShowPanel(S); }},
    // The same panel after a relay of another type was identified on the same
    // link: "Режим работы терминала" (register 30) is a number there, so its
    // list is unbound, disabled, under its own caption.
    {"panel-other-type", "TabSheetDashboard",
     [](TDemoSession &S) {
       LoadDemoDevice(S.Device, 3);
       ShowPanel(S);
     }},
    // Another relay behind the same link when "Установить время" goes: the
    // box that says what was not written, over the new relay's identification.
    {"write-refused", "TabSheetDashboard",
     [](TDemoSession &S) {
       LoadDemoDevice(S.Device, 2);
       S.Form->SetTimeCommand();
     },
     [](TDemoSession &) -> QWidget * { return nullptr; }},
    // "Выход" while the clock write waits for slow answers: the box that says
    // the program closes once the write has ended, pictured while it waits.
    {"write-wait", "TabSheetDashboard",
     [](TDemoSession &S) {
       TSimFault late;
       late.Kind = TSimFaultKind::LateAnswer;
       late.Value = 2000;
       S.Device.SetFault(late);
       S.Form->SetTimeCommand();
       QTest::qWait(300);
       S.Form->close();
       QTest::qWait(500);
       Pictured = QGuiApplication::primaryScreen()->grabWindow(0).save(OutFile);
       S.Device.SetFault({});
     },
     [](TDemoSession &) -> QWidget * { return nullptr; }},
    // A "Редактирование уставок" tab made from the demo relay, written after
    // another relay has been identified on the same link.
    {"edit-other-relay", "TabSheetUstav",
     [](TDemoSession &S) {
       S.Form->EditCommand();
       LoadDemoDevice(S.Device, 2);
       S.Identify();
       S.Form->SetLoggedIn(true);
       if (TkvUstavLocalFrame *set = S.Form->ActiveLocalSet())
         S.Form->PageControl->setCurrentWidget(set->parentWidget());
       else
         S.Form->PageControl->setCurrentIndex(S.Form->PageControl->count() - 1);
       S.Form->WriteCommand();
     },
     [](TDemoSession &) -> QWidget * { return nullptr; }},
    // "Параметры": a value typed and written that the relay acknowledged and
    // did not keep: the report names both values, the cell stays the edit.
    {"param-unkept", "TabSheetParam",
     [](TDemoSession &S) {
       TSimFault unkept;
       unkept.Kind = TSimFaultKind::Unkept;
       unkept.Register = DemoDevice::ScaledReg;
       S.Device.SetFault(unkept);
       S.Form->SetLoggedIn(true);
       TypeParam(S, DemoDevice::ScaledReg, QStringLiteral("15.5"));
       S.Form->ParamFrame->WriteAll();
       S.WaitIdle();
     }},
    // "Параметры": a value typed and written, the relay answering the write
    // and then not its read-back: the typed value stays, marked unconfirmed,
    // the mouse on it shows the mark's tooltip; the whole screen.
    {"param-unconfirmed", "TabSheetParam",
     [](TDemoSession &S) {
       S.Form->SetLoggedIn(true);
       TypeParam(S, DemoDevice::ScaledReg, QStringLiteral("15.5"));
       FailReadBack(S, DemoDevice::ScaledReg, 0);
       S.Form->ParamFrame->WriteAll();
       S.WaitIdle();
       TkvParamFrame *f = S.Form->ParamFrame;
       for (int r = 1; r < f->sgParam->rowCount(); ++r)
         if (f->RowReg(r) == DemoDevice::ScaledReg)
           HoverCell(f->sgParam, 2, r);
     },
     [](TDemoSession &) -> QWidget * { return nullptr; }},
    // The same on "Уставки" in edit mode: "Выдержка времени МТЗ-1", group 1.
    {"ustav-unconfirmed", "TabSheetUstav",
     [](TDemoSession &S) {
       TUstavFrame *f = S.Form->UstavFrame;
       f->SetEditMode(true);
       S.Form->SetLoggedIn(true);
       const int row = UstavRow(f, DemoDevice::UstavReg1 + 1);
       TypeUstav(f, 2, row, QStringLiteral("700"));
       FailReadBack(S, DemoDevice::UstavReg1 + 1, 1);
       S.Form->WriteCommand();
       S.WaitIdle();
       HoverCell(f->sgUstav, 2, row);
     },
     [](TDemoSession &) -> QWidget * { return nullptr; }},
    // "Обновить" on "Уставки" after the relay was swapped behind the link with
    // no gap: the window at the moment the check before the read has found
    // another relay and says so, the old relay's values still shown.
    {"ustav-swapped", "TabSheetUstav",
     [](TDemoSession &S) {
       SwapToSecondTerminal(S);
       const QString changed = MultiLingual().Translate(QString::fromUtf8(IdentTexts::DeviceChanged));
       QObject::connect(S.Form->StatusBar_, &QStatusBar::messageChanged, S.Form.get(),
                        [&S, changed](const QString &Text) {
                          if (Text == changed && !Pictured)
                            Pictured = S.Form->grab().save(OutFile);
                        });
       S.Form->aMonitorRefresh->trigger();
       S.WaitIdle();
       if (!Pictured)
         std::cerr << "the status line never said: " << changed.toStdString() << "\n";
     }},
    // The same once the new relay has been identified: its own group 2
    // (current 6100) read under its own map.
    {"ustav-swapped-identified", "TabSheetUstav",
     [](TDemoSession &S) {
       SwapToSecondTerminal(S);
       S.Form->aMonitorRefresh->trigger();
       S.WaitIdle();
     }},
    // Edit mode, "Уставка ЗМН по напряжению" of group 1 typed 730.0 over the
    // 700.0 the relay holds, the relay acknowledging the write and not keeping
    // it: the report gives both values in the page's units.
    {"ustav-unkept", "TabSheetUstav",
     [](TDemoSession &S) {
       TUstavFrame *f = S.Form->UstavFrame;
       f->SetEditMode(true);
       S.Form->SetLoggedIn(true);
       const int reg = DemoDevice::UstavReg1 + 3;
       TypeUstav(f, 2, UstavRow(f, reg), QStringLiteral("730.0"));
       TSimFault unkept;
       unkept.Kind = TSimFaultKind::Unkept;
       unkept.Register = reg;
       S.Device.SetFault(unkept);
       S.Form->WriteCommand();
       S.WaitIdle();
     }},
    // Edit mode, two setpoints typed, the relay refusing the second write:
    // the report names its group, the edit not written stays yellow.
    {"ustav-partial", "TabSheetUstav",
     [](TDemoSession &S) {
       TUstavFrame *f = S.Form->UstavFrame;
       f->SetEditMode(true);
       TypeUstav(f, 2, 2, QStringLiteral("650"));
       TypeUstav(f, 2, 4, QStringLiteral("680.0"));
       TSimFault refused;
       refused.Kind = TSimFaultKind::Exception;
       refused.Value = 4;
       refused.Function = SIM_FN_WRITE_HOLDING;
       refused.After = 1;
       refused.Count = 1;
       S.Device.SetFault(refused);
       S.Form->SetLoggedIn(true);
       S.Form->WriteCommand();
       S.WaitIdle();
     }},
    // "Выход" while a "Параметры" write goes, the relay refusing its second
    // word: the close is given up and the window stays with the report.
    {"exit-short", "TabSheetParam",
     [](TDemoSession &S) {
       TypeParam(S, DemoDevice::NameReg, QStringLiteral("ПОДСТАНЦИЯ 35"));
       TSimFault refused;
       refused.Kind = TSimFaultKind::Exception;
       refused.Value = 4;
       refused.Function = SIM_FN_WRITE_HOLDING;
       refused.After = 2;
       refused.Count = 1;
       S.Device.SetFault(refused);
       S.Form->SetLoggedIn(true);
       S.Form->auWrite->setEnabled(true);
       S.Form->auWrite->trigger();
       S.Form->nExit->trigger();
       S.WaitIdle();
       QTest::qWait(500);
       Pictured = QGuiApplication::primaryScreen()->grabWindow(0).save(OutFile);
     },
     [](TDemoSession &) -> QWidget * { return nullptr; }},
    // "Редактировать уставки", "Сохранить" asking for a name (answered setC.us),
    // then one edit: the tab carries the file's name.
    {"edit-saved", "TabSheetUstav",
     [](TDemoSession &S) {
       const QString file = S.Dir.filePath("setC.us");
       SetFileDialogSink([file](const TFileDialogRequest &) { return file; });
       S.Form->EditCommand();
       S.Form->apFileSave->trigger();
       if (TkvUstavLocalFrame *set = S.Form->ActiveLocalSet()) {
         set->sgUstav->setCurrentCell(2, 2);
         set->Editor()->StartEdit();
         set->Editor()->Edit->setText("4500");
         QTest::keyClick(set->Editor()->Edit, Qt::Key_Return);
       }
     }},
    // A "Редактирование уставок" tab made from the demo relay, a value typed,
    // then another unit of the same type put in its place with no sign: the
    // write's check finds another unit and refuses it, nothing sent.
    {"edit-other-unit", "TabSheetUstav",
     [](TDemoSession &S) {
       S.Form->EditCommand();
       if (TkvUstavLocalFrame *set = S.Form->ActiveLocalSet()) {
         set->sgUstav->setCurrentCell(2, 2);
         set->Editor()->StartEdit();
         set->Editor()->Edit->setText("4500");
         QTest::keyClick(set->Editor()->Edit, Qt::Key_Return);
       }
       LoadDemoDevice(S.Device, 1, 2);
       S.Form->SetLoggedIn(true);
       S.Form->WriteCommand();
       S.WaitIdle();
     },
     [](TDemoSession &) -> QWidget * { return nullptr; }},
    // The oscillogram list beside a copy saved by an earlier version, which
    // names no relay: listed with its word, never taken as this relay's.
    {"osc-no-relay", "TabSheetOscHeader",
     [](TDemoSession &S) {
       ReadNewestOsc(S);
       const QDir osc(QDir(S.Form->ProgramFolder()).filePath("osc"));
       for (const QString &name : osc.entryList({"*.xml"}, QDir::Files)) {
         QFile f(osc.filePath(name));
         if (!f.open(QIODevice::ReadOnly))
           continue;
         QByteArray text = f.readAll();
         f.close();
         // The element as the side file writes it: attributes only.
         const qsizetype a = text.indexOf("<source"), b = a < 0 ? -1 : text.indexOf("/>", a);
         if (b > a && f.open(QIODevice::WriteOnly | QIODevice::Truncate))
           f.write(text.remove(a, b + 2 - a));
       }
       S.Form->PageControl->setCurrentWidget(S.Form->TabSheetOscHeader);
       PressRefresh(S);
       S.WaitIdle();
     }},
    // The dialog "Блок" of the first custom unit, at its own size.
    {"unit", "TabSheetDashboard",
     [](TDemoSession &S) {
       S.Form->NCustomLogic->trigger();
       S.Form->aMonitorRefresh->trigger();
       S.WaitIdle();
       if (TkvCustomFrame *page = S.Form->ActiveCustomFrame()) {
         page->SelectUnit(0);
         if (TUnitPropertyForm *form = page->FillUnitDialog())
           form->show();
       }
     },
     [](TDemoSession &S) -> QWidget * { return S.Form->Forms().UnitPropertyForm; }},
};

// The tab named Page (a row's name, a tab's object name or caption).
QWidget *FindPage(TDemoSession &S, const QString &Page, const TPageShot **Shot) {
  *Shot = nullptr;
  for (const TPageShot &s : Shots)
    if (Page == s.Name) {
      *Shot = &s;
      return S.Form->PageControl->findChild<QWidget *>(s.Tab);
    }
  for (int i = 0; i < S.Form->PageControl->count(); ++i)
    if (S.Form->PageControl->widget(i)->objectName() == Page || S.Form->PageControl->tabText(i) == Page)
      return S.Form->PageControl->widget(i);
  return nullptr;
}
} // namespace

int main(int argc, char **argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::cerr << "usage: screenshot_page PAGE OUT.png\n";
    return 2;
  }
  const QString page = QString::fromLocal8Bit(argv[1]), out = QString::fromLocal8Bit(argv[2]);
  OutFile = out;
  QStringList shown;
  SetMessageSink([&shown](TMsgKind, const QString &Text) {
    shown << Text;
    return TMsgResult::Ok;
  });
  SetFileDialogSink([](const TFileDialogRequest &) { return QString(); });
  TDemoSession s;
  // Edit mode and direct edits are what the page rows of the table show.
  // The edit tab comes only where edits are not made on the page itself.
  const bool editTab = page == QStringLiteral("edit-other-relay") || page == QStringLiteral("edit-saved");
  if (!s.Start(editTab ? "[ustav]\ndirectEdit=0\n" : "[ustav]\ndirectEdit=2\n")) {
    std::cerr << "the main window did not start\n";
    return 1;
  }
  // KV_SHOT_SIZE=WxH pictures the window at another size (the default
  // window is 1000x680).
  const QStringList size = qEnvironmentVariable("KV_SHOT_SIZE", QStringLiteral("1440x800")).split('x');
  s.Form->setGeometry(0, 0, size.value(0).toInt(), size.value(1).toInt());
  s.Form->show();
  if (s.Identify() != "Готово") {
    std::cerr << "identification ended with: " << s.Status().toStdString() << "\n";
    return 1;
  }
  const TPageShot *shot = nullptr;
  QWidget *tab = FindPage(s, page, &shot);
  if (!tab) {
    std::cerr << "no page " << argv[1] << "\n";
    return 1;
  }
  s.Form->PageControl->setCurrentWidget(tab);
  if (shot && shot->Prepare)
    shot->Prepare(s);
  s.WaitIdle();
  QTest::qWait(300); // repaints after the last step, seen by a person, not asserted
  for (const QString &t : shown)
    std::cerr << "message: " << t.toStdString() << "\n";
  if (Pictured)
    return 0;
  QWidget *window = shot && shot->Window ? shot->Window(s) : s.Form.get();
  // No window: the whole screen, for windows beside the main one.
  const QPixmap picture = (shot && shot->Screen) || !window ? QGuiApplication::primaryScreen()->grabWindow(0)
                                                            : window->grab();
  if (!picture.save(out)) {
    std::cerr << "cannot save " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
