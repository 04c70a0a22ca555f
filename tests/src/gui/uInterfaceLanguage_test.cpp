// Texts the program shows of its own before any data fills them: in the
// interface's language, whichever it is.
#include "../../common/uErrorOf.h"
#include "uAppIniFile.h"
#include "uExcelFrame.h"
#include "uFiles.h"
#include "uModbustcpForm.h"
#include "uMultiLingual.h"
#include "uOscFrame.h"

#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QTabWidget>
#include <gtest/gtest.h>

// The spreadsheet tab's sheets nobody named, the oscillogram tool bar's
// file name before a file is loaded and the box of a missing Modbus TCP
// target list.
TEST(InterfaceLanguage, TheProgramsOwnTextsOfTabsAndBoxes) {
  MultiLingual().Load(KV_SOURCE_DIR "/src/resources");
  QTemporaryDir dir;
  const QString old = QDir::currentPath();
  QDir::setCurrent(dir.path());
  SaveFileBytes(dir.filePath("kv.ini"), "[modbustcp]\nfilename=targets.xml\n");
  const TAppIniFile ini(dir.filePath("kv.ini"));
  const struct {
    int Language;
    const char *Sheets, *NoFile, *NoList;
  } cases[] = {
      {lnEnglish, "Sheet1|Sheet2|Sheet3", "no name", "No Modbus TCP target list: "},
      {lnUkrainian, "Аркуш1|Аркуш2|Аркуш3", "без назви", "Немає списку пристроїв Modbus TCP: "},
      {lnRussian, "Лист1|Лист2|Лист3", "без имени", "Нет списка устройств Modbus TCP: "},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Language);
    MultiLingual().SetTargetLanguage(c.Language);
    TExcelFrame excel;
    QStringList sheets;
    for (int i = 0; i < excel.Sheets->count(); ++i)
      sheets << excel.Sheets->tabText(i);
    EXPECT_EQ(sheets.join("|").toStdString(), c.Sheets);
    TkvOscFrame osc;
    EXPECT_EQ(osc.LabelFileName->text().toStdString(), c.NoFile);
    TModbustcpForm targets(nullptr, ini);
    const QString box = ErrorOf([&] { targets.Fill(); });
    EXPECT_TRUE(box.startsWith(QString::fromUtf8(c.NoList)) && box.endsWith("targets.xml")) << box.toStdString();
  }
  QDir::setCurrent(old);
  MultiLingual() = TMultiLingual();
}
