// The interface switched to English through its own menu shows no Russian:
// every page and dialog of the main window, against the demo terminal, with
// the shipped translation table. Texts that come from the device or from the
// user's files (descriptor names, events, channel names) stay as they are.
#include "uDemoSession.h"

#include "uAboutBox.h"
#include "uAgentClientForm.h"
#include "uControlPlacer.h"
#include "uControls.h"
#include "uDateTime.h"
#include "uSimpleDeviceDescriptor.h"
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

namespace {
// The captions the title panel's file gives (labels and group boxes, in
// order; not the bit names the descriptor gives) and its core date.
QStringList PanelCaptions(const TMainForm &W) {
  QStringList t;
  for (QWidget *c : W.DashboardFrame->Panel->findChildren<QWidget *>())
    if (auto *l = qobject_cast<QLabel *>(c); l && !qobject_cast<TBitregGroupBox *>(l->parent()))
      t << l->text();
    else if (auto *g = qobject_cast<QGroupBox *>(c))
      t << g->title();
  return t;
}
QString CoreDate(const TMainForm &W) {
  for (QWidget *c : ControlsOf(W.DashboardFrame->Panel, true))
    if (auto *d = qobject_cast<TDateTimeEdit *>(c); d && d->Kind() == kvc::dtCore)
      return d->text();
  return {};
}
QStringList TabCaptions(const TMainForm &W) {
  QStringList t;
  for (int i = 0; i < W.PageControl->count(); ++i)
    t << W.PageControl->tabText(i);
  return t;
}
} // namespace

// The run-time tabs (their captions end in blanks) and the title panel (its
// captions and the core date's month, loaded again at identification) follow
// every switch, and the language the program starts in.
TEST_F(LanguageLink, TabsAndTitlePanelFollowEverySwitchAndTheStartLanguage) {
  // The core date's month as "dd mmm yyyy" writes it, by language index.
  static const char *const Months[3][12] = {
      {"січ", "лют", "бер", "кві", "тра", "чер", "лип", "сер", "вер", "жов", "лис", "гру"},
      {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"},
      {"янв", "фев", "мар", "апр", "май", "июн", "июл", "авг", "сен", "окт", "ноя", "дек"}};
  const auto openTabs = [](TDemoSession &S) {
    TMainForm &w = *S.Form;
    w.OpenLogTab();
    w.NDeviceBoard->trigger();
    w.PageControl->setCurrentWidget(w.TabSheetUstav);
    w.auEdit->trigger();
    S.WaitIdle();
  };
  const auto start = [](TDemoSession &S, const QString &Lang) {
    MultiLingual().Load(KV_SOURCE_DIR "/src/resources");
    for (const char *name : {"dashboard.XML", "deviceFrame.xml"})
      QFile::copy(QString(KV_SOURCE_DIR "/tools/devsim/") + name, S.Dir.filePath(name));
    S.Serve(false);
    const bool started = S.Open(QString("[setup]\ncustom=0\nlang=%1\nprotocol=modbustcp\n[modbustcp]\nhost=127.0.0.1\n"
                                        "port=%2\n[device]\npollPause=1000\n[com]\nTimeout=5000\n[debug]\npoll=0\n")
                                    .arg(Lang)
                                    .arg(S.Server->TcpPort()));
    S.Form->resize(1200, 800);
    S.Form->show();
    return started;
  };

  // What a Russian start shows: the texts every other language translates.
  TDemoSession ru;
  ASSERT_TRUE(start(ru, "RU"));
  ASSERT_EQ(ru.Identify(), "Готово");
  openTabs(ru);
  const QStringList russianTabs = TabCaptions(*ru.Form), russianPanel = PanelCaptions(*ru.Form);
  ASSERT_GE(russianTabs.filter("      ").size(), 3) << russianTabs.join('|').toStdString();
  ASSERT_TRUE(russianPanel.contains("Дискретные входы")) << russianPanel.join('|').toStdString();
  int month = 0, day = 0, year = 0, h = 0, mi = 0, sec = 0, ms = 0;
  DecodeDateTime(ru.Form->Descriptor()->CoreDate, year, month, day, h, mi, sec, ms);
  ASSERT_GE(month, 1);

  const auto check = [&](const TMainForm &W, int Language, const std::string &When) {
    const auto expected = [&](QStringList Texts) {
      for (QString &t : Texts)
        if (const QString core = t.trimmed(); !core.isEmpty())
          t.replace(core, MultiLingual().FromRussian(core));
      return Texts;
    };
    ASSERT_EQ(MultiLingual().TargetLanguage(), Language) << When;
    const auto same = [&When](const QStringList &Shown, const QStringList &Expected) {
      ASSERT_EQ(Shown.size(), Expected.size()) << When << ": " << Shown.join('|').toStdString();
      for (qsizetype i = 0; i < Shown.size(); ++i)
        EXPECT_EQ(Shown[i].toStdString(), Expected[i].toStdString()) << When;
    };
    same(TabCaptions(W), expected(russianTabs));
    same(PanelCaptions(W), expected(russianPanel));
    EXPECT_TRUE(CoreDate(W).contains(QString(" %1 ").arg(QString::fromUtf8(Months[Language][month - 1]))))
        << When << ": " << CoreDate(W).toStdString();
    if (Language == lnEnglish)
      for (const QString &t : TabCaptions(W) + QStringList{CoreDate(W)})
        EXPECT_FALSE(HasCyrillic(t)) << When << ": " << t.toStdString();
  };
  check(*ru.Form, lnRussian, "Russian");
  ru.Form->NEnglish->trigger();
  check(*ru.Form, lnEnglish, "RU -> EN");
  ru.Form->NUkrainian->trigger();
  check(*ru.Form, lnUkrainian, "RU -> EN -> UA");
  ru.Form.reset();

  TDemoSession en;
  ASSERT_TRUE(start(en, "EN"));
  ASSERT_EQ(en.Identify(), "Done");
  openTabs(en);
  check(*en.Form, lnEnglish, "start in EN");
}
