// The interface switched to English through its own menu shows no Russian:
// every page and dialog of the main window, against the demo terminal, with
// the shipped translation table. Texts that come from the device or from the
// user's files (descriptor names, events, channel names) stay as they are.
#include "uDemoSession.h"

#include "uAboutBox.h"
#include "uAgentClientForm.h"
#include "uControlPlacer.h"
#include "uControls.h"
#include "uBitmapForm.h"
#include "uDashboardFrame.h"
#include "uDashboardSetupForm.h"
#include "uDeviceBoardFrame.h"
#include "uDeviceboardSetup.h"
#include "uEventFrame.h"
#include "uEventPDFReportFrame.h"
#include "uExcelFrame.h"
#include "uFileDialogSink.h"
#include "uMessageSink.h"
#include "uModbustcpForm.h"
#include "uOscFrame.h"
#include "uOscHeadFrame.h"
#include "uOscNoteForm.h"
#include "uOscSetupForm.h"
#include "uOscValueForm.h"
#include "uParamFrame.h"
#include "uPasswdForm.h"
#include "uStringGrid.h"
#include "uPreferenceForm.h"
#include "uPropertyFormX.h"
#include "uUstavFrame.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QStatusBar>
#include <QStringDecoder>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeWidget>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

namespace {
bool HasCyrillic(const QString &S) {
  return std::any_of(S.begin(), S.end(), [](QChar c) { return c.unicode() >= 0x400 && c.unicode() <= 0x4FF; });
}

// Every Cyrillic text the device and the files beside the program hold: the
// values of attributes and elements of their XML, the fields of COMTRADE
// configurations. Longest first, so that a name is taken away whole.
QStringList DataTexts(const QString &Folder) {
  QSet<QString> found;
  static const QRegularExpression xmlText(R"re("([^"]*)"|>([^<]+)<)re");
  QDirIterator it(Folder, {"*.xml", "*.XML", "*.cfg", "*.us"}, QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    QFile f(it.next());
    if (!f.open(QIODevice::ReadOnly))
      continue;
    // UTF-8 where it is valid (the decoded descriptor), else Windows-1251.
    const QByteArray bytes = f.readAll();
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
      text = FromWin1251(bytes);
    if (f.fileName().endsWith(".cfg")) {
      for (const QString &line : text.split(QRegularExpression("\r\n|\n")))
        for (const QString &field : line.split(u','))
          found << field.trimmed();
    } else {
      for (const QRegularExpressionMatch &m : xmlText.globalMatch(text))
        found << (m.captured(1).isNull() ? m.captured(2) : m.captured(1)).trimmed();
    }
  }
  QStringList out;
  for (const QString &t : std::as_const(found))
    if (HasCyrillic(t))
      out << t;
  std::sort(out.begin(), out.end(), [](const QString &A, const QString &B) { return A.size() > B.size(); });
  return out;
}

// The texts a person sees on Root and the visible widgets in it.
QStringList VisibleTexts(QWidget *Root) {
  QStringList t{Root->windowTitle()};
  const auto actions = [&t](const QList<QAction *> &List, const auto &Self) -> void {
    for (QAction *a : List) {
      if (!a->isVisible() || a->isSeparator())
        continue;
      t << a->text() << a->toolTip();
      if (QMenu *m = a->menu())
        Self(m->actions(), Self);
    }
  };
  QList<QWidget *> widgets = Root->findChildren<QWidget *>();
  widgets.prepend(Root);
  for (QWidget *w : std::as_const(widgets)) {
    if (w != Root && !w->isVisibleTo(Root))
      continue;
    if (!qobject_cast<QMenu *>(w))
      t << w->toolTip();
    if (auto *bar = qobject_cast<QMenuBar *>(w))
      actions(bar->actions(), actions);
    else if (auto *tools = qobject_cast<QToolBar *>(w))
      actions(tools->actions(), actions);
    else if (auto *l = qobject_cast<QLabel *>(w))
      t << l->text();
    else if (auto *b = qobject_cast<QAbstractButton *>(w))
      t << b->text();
    else if (auto *g = qobject_cast<QGroupBox *>(w))
      t << g->title();
    else if (auto *e = qobject_cast<QLineEdit *>(w))
      t << e->placeholderText();
    else if (auto *s = qobject_cast<QStatusBar *>(w))
      t << s->currentMessage();
    else if (auto *tabs = qobject_cast<QTabBar *>(w))
      for (int i = 0; i < tabs->count(); ++i)
        t << tabs->tabText(i) << tabs->tabToolTip(i);
    else if (auto *c = qobject_cast<QComboBox *>(w))
      for (int i = 0; i < c->count(); ++i)
        t << c->itemText(i);
    else if (auto *v = qobject_cast<QAbstractItemView *>(w); v && v->model()) {
      const QAbstractItemModel *m = v->model();
      // Headers painted by the view itself give their texts in roles of their own.
      for (int c = 0; c < m->columnCount(); ++c)
        for (int role : {int(Qt::DisplayRole), int(Qt::UserRole), Qt::UserRole + 1, Qt::UserRole + 2, Qt::UserRole + 3, Qt::UserRole + 4})
          t << m->headerData(c, Qt::Horizontal, role).toString();
      // Rows of a tree are walked one level deep: the lists and grids are flat.
      const std::function<void(const QModelIndex &)> rows = [&](const QModelIndex &Parent) {
        for (int r = 0; r < m->rowCount(Parent); ++r)
          for (int c = 0; c < m->columnCount(Parent); ++c) {
            const QModelIndex i = m->index(r, c, Parent);
            t << m->data(i).toString();
            if (c == 0 && m->hasChildren(i))
              rows(i);
          }
      };
      rows({});
    }
  }
  return t;
}

class LanguageLink : public ::testing::Test {
protected:
  void SetUp() override {
    FOldSink = SetMessageSink([this](TMsgKind, const QString &Text) {
      Shown << Text;
      return TMsgResult::Cancel;
    });
    FOldFiles = SetFileDialogSink([](const TFileDialogRequest &) { return QString(); });
  }
  void TearDown() override {
    SetMessageSink(FOldSink);
    SetFileDialogSink(FOldFiles);
  }
  QStringList Shown;

private:
  TMessageSink FOldSink;
  TFileDialogSink FOldFiles;
};
} // namespace

TEST_F(LanguageLink, EnglishPagesAndDialogsShowOnlyTheDevicesOwnRussian) {
  TDemoSession s;
  MultiLingual().Load(KV_SOURCE_DIR "/src/resources");
  QFile::copy(KV_SOURCE_DIR "/tools/devsim/deviceFrame.xml", s.Dir.filePath("deviceFrame.xml"));
  QFile::copy(KV_SOURCE_DIR "/src/resources/EventReportTemplate.xml", s.Dir.filePath("EventReportTemplate.xml"));
  ASSERT_TRUE(s.Start());
  s.Form->resize(1200, 800);
  s.Form->show();
  ASSERT_EQ(s.Identify(), "Готово");
  s.Form->NEnglish->trigger();
  TMainForm &w = *s.Form;
  const TAppForms &forms = w.Forms();

  // Each row opens one view (a page, a tab, a dialog) and gives what it
  // shows; a modal dialog is looked at while it waits, then cancelled.
  const auto look = [&s](QWidget *Window) {
    s.WaitIdle();
    return VisibleTexts(Window);
  };
  const auto page = [&](QWidget *Sheet) {
    w.PageControl->setCurrentWidget(Sheet);
    return look(&w);
  };
  const auto dialog = [&](QDialog *D) {
    D->show();
    const QStringList t = look(D);
    D->hide();
    return t;
  };
  const auto modal = [](const std::function<void()> &Trigger) {
    QStringList t;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (QWidget *d = QApplication::activeModalWidget(); d && t.isEmpty()) {
        t = VisibleTexts(d) << QStringLiteral("(shown)");
        QMetaObject::invokeMethod(d, "reject", Qt::QueuedConnection);
      }
    });
    poll.start(50);
    Trigger();
    return t;
  };
  TkvOscFrame *osc = nullptr;
  const struct {
    const char *View;
    std::function<QStringList()> Open;
  } views[] = {
      {"title panel", [&] { return page(w.TabSheetDashboard); }},
      {"parameters", [&] { return page(w.TabSheetParam); }},
      {"setpoints", [&] { return page(w.TabSheetUstav); }},
      {"setpoints in edit mode",
       [&] {
         w.UstavFrame->SetEditMode(true);
         const QStringList t = page(w.TabSheetUstav);
         w.UstavFrame->SetEditMode(false);
         return t;
       }},
      {"event journal",
       [&] {
         w.PageControl->setCurrentWidget(w.TabSheetEvent);
         w.aMonitorRefresh->trigger();
         return look(&w);
       }},
      {"oscillograms",
       [&] {
         w.PageControl->setCurrentWidget(w.TabSheetOscHeader);
         w.aMonitorRefresh->trigger();
         return look(&w);
       }},
      // A new oscillogram opens with its channel set-up dialog.
      {"oscillogram set-up",
       [&] {
         return modal([&] {
           w.OscHeadFrame->sgOscHeadDblClick(1);
           s.WaitIdle();
         });
       }},
      {"oscillogram viewer",
       [&] {
         osc = w.ActiveOscFrame();
         return osc ? look(&w) : QStringList{"no oscillogram tab"};
       }},
      {"oscillogram values",
       [&] {
         if (osc)
           osc->cbOscValueForm->click();
         return TOscValueForm::Instance() ? look(TOscValueForm::Instance()) : QStringList{"no value window"};
       }},
      {"oscillogram note", [&] { return dialog(TOscNoteForm::Instance()); }},
      {"log", [&] {
         w.OpenLogTab();
         return look(&w);
       }},
      {"Modbus pane", [&] {
         w.miModbus->trigger();
         return look(&w);
       }},
      {"device boards", [&] {
         w.NDeviceBoard->trigger();
         return look(&w);
       }},
      {"event report", [&] {
         w.NEventReport->trigger();
         return look(&w);
       }},
      {"local setpoint set", [&] {
         w.PageControl->setCurrentWidget(w.TabSheetUstav);
         w.auEdit->trigger();
         return look(&w);
       }},
      {"spreadsheet", [&] {
         w.PageControl->setCurrentWidget(w.TabSheetParam);
         w.nExcel->trigger();
         return look(&w);
       }},
      {"title panel designer",
       [&] {
         forms.DashboardSetupForm->SetDescriptor(w.Descriptor());
         forms.DashboardSetupForm->Prepare(w.DashboardFrame->Panel, {});
         return dialog(forms.DashboardSetupForm);
       }},
      // The boards' designer with a measure selected: the property editor
      // lists its properties and their choices.
      {"board designer and property editor",
       [&] {
         TDeviceboardSetupForm *d = forms.DeviceboardSetupForm;
         d->SetDescriptor(w.Descriptor());
         d->SetPropertyForm(forms.PropertyForm);
         d->LoadFrom(w.findChild<TkvDeviceBoardFrame *>()->Panel);
         d->show();
         for (QWidget *c : ControlsOf(d->PanelContainer, true))
           if (auto *m = qobject_cast<TMeasureLabeledEdit *>(c)) {
             d->SelectControl(m);
             break;
           }
         QStringList t = look(d) << look(forms.PropertyForm);
         d->hide();
         forms.PropertyForm->hide();
         return t;
       }},
      {"about box", [&] { return dialog(forms.AboutBox); }},
      {"password", [&] { return dialog(forms.PasswdForm); }},
      {"preferences", [&] { return dialog(forms.PreferenceForm); }},
      {"bit mask", [&] { return dialog(forms.BitmapForm); }},
      {"Modbus TCP list", [&] { return dialog(forms.ModbustcpForm); }},
      {"agent", [&] { return dialog(forms.AgentClientForm); }},
  };
  for (const auto &v : views) {
    const QStringList texts = v.Open();
    EXPECT_FALSE(texts.isEmpty()) << v.View << " showed nothing";
    // Values read from the device (its type and name texts) are its data too.
    QStringList data = DataTexts(s.Dir.path());
    for (int r = 1; r < w.ParamFrame->sgParam->rowCount(); ++r)
      if (HasCyrillic(w.ParamFrame->sgParam->Cells(2, r)))
        data << w.ParamFrame->sgParam->Cells(2, r);
    // Sheet names are the workbook's own, saved in its file.
    for (TExcelFrame *x : w.findChildren<TExcelFrame *>())
      for (int i = 0; i < x->Sheets->count(); ++i)
        data << x->Sheets->tabText(i);
    // Names: the languages, each in its own; the maker (setup/logo).
    data << QStringLiteral("Русский") << QStringLiteral("Український") << QStringLiteral("ВАРНОК");
    std::sort(data.begin(), data.end(), [](const QString &A, const QString &B) { return A.size() > B.size(); });
    QStringList russian;
    for (QString t : texts) {
      // A short name (a phase letter) is taken only as a whole text.
      for (const QString &d : data)
        if (d.size() >= 4 || d == t)
          t.replace(d, QString());
      if (HasCyrillic(t))
        russian << t;
    }
    russian.removeDuplicates();
    EXPECT_TRUE(russian.isEmpty()) << v.View << ": " << russian.join(" | ").toStdString();
  }
  // Messages reach the box in Russian; the box shows them translated.
  for (const QString &t : Shown)
    EXPECT_FALSE(HasCyrillic(MultiLingual().Translate(t))) << "message: " << t.toStdString();
}
