#include "uScriptHost.h"

#include "../compile_test_util.h"
#include "uErrors.h"
#include "uLogger.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

TEST(ScriptHost, MultiLineLiteralsBecomeConcatenations) {
  const struct {
    QString In, Out;
  } cases[] = {
      {"x=\"one\r\ntwo\";", "x=\"one\\n\"+\n\"two\";"},
      {"x=\"one\n\n\ntwo\";", "x=\"one\\n\"+\n\"two\";"},     // blank lines vanish
      {"x=\"a\r\n\"b\"", "x=\"a\\n\"+\n\"\"b\""},             // the quote after a break is not examined
      {"y=1;\r\nz=\"q\";\r\n", "y=1;\r\nz=\"q\";\r\n"},        // outside literals nothing changes
  };
  for (const auto &c : cases)
    EXPECT_EQ(RewriteMultiLineStrings(c.In), c.Out) << c.In.toStdString();
}

TEST(ScriptHost, ErrorsAreLoggedInSixLinesAndTimeOutsStop) {
  App();
  QTemporaryDir dir;
  TScriptHost host(dir.path());
  const QString error = ErrorOf([&] { host.AddCode("var a = 1;\nvar b = ;\n", "prepare.js"); });
  const QStringList log = Logger().Lines().mid(Logger().Lines().size() - 6);
  ASSERT_EQ(log.size(), 6);
  const char *heads[] = {"Script error", "Source: ", "Description: ", "Text: var b = ;", "Line: 2", "Column: 0"};
  for (int i = 0; i < 6; ++i)
    EXPECT_TRUE(log[i].contains(heads[i])) << log[i].toStdString();
  EXPECT_TRUE(log[1].contains("prepare.js"));
  EXPECT_NE(error, "no error");

  TScriptHost slow(dir.path(), 300);
  slow.AddCode("function spin() { while (true) {} }", "f.js");
  EXPECT_EQ(ErrorOf([&] { slow.Run("spin", "{}"); }), "script time-out 300 ms");
  TScriptHost next(dir.path(), 300);
  next.AddCode("var g = {x: 2};", "g.js");
  EXPECT_EQ(next.Eval("typeof g"), "object");
}

TEST(ScriptHost, FilesStayInsideTheWorkFolder) {
  App();
  QTemporaryDir outside, dir;
  ASSERT_TRUE(QFile::link(outside.path(), dir.filePath("out")));
  TScriptHost host(dir.path());
  host.AddCode("var fso = new ActiveXObject('Scripting.FileSystemObject');"
               "function write(name) { try { var f = fso.CreateTextFile(name, true); f.Write('x'); f.Close();"
               " return 'ok'; } catch (e) { return e.description; } }",
               "t.js");
  const QString out = outside.path();
  const struct {
    QString Name, Result;
  } cases[] = {{"../x.txt", "path outside the work folder: ../x.txt"},
               {out + "/y.txt", "path outside the work folder: " + out + "/y.txt"},
               {"out/z.txt", "path outside the work folder: out/z.txt"},
               {"inside.txt", "ok"}};
  for (const auto &c : cases)
    EXPECT_EQ(host.Eval("write('" + c.Name + "')"), c.Result);
  EXPECT_TRUE(QDir(out).entryList(QDir::Files).isEmpty());
  EXPECT_EQ(host.Eval("(function(){ try { new ActiveXObject('Excel.Application'); } catch (e) { return e.description; }"
                      " })()"),
            "unsupported ActiveXObject: Excel.Application");
}

TEST(ScriptHost, TextStreamsReadWriteAndAppendInWindows1251) {
  App();
  QTemporaryDir dir;
  TScriptHost host(dir.path());
  host.AddCode("var fso = new ActiveXObject('Scripting.FileSystemObject');"
               "var f = fso.CreateTextFile('A.TXT', true); f.WriteLine('Пуск'); f.WriteBlankLines(1); f.Write('x');"
               "f.Close();"
               "f = fso.OpenTextFile('a.txt', 8); f.WriteLine('y'); f.Close();"
               "f = fso.OpenTextFile('a.txt', 1); var first = f.ReadLine(); var rest = f.ReadAll();"
               "var end = f.AtEndOfStream; f.Close();"
               "var had = fso.FileExists('a.txt'); fso.DeleteFile('a.txt'); var gone = !fso.FileExists('a.txt');",
               "s.js");
  EXPECT_EQ(host.Eval("first + '|' + rest + '|' + end + had + gone"), "Пуск|\r\nxy\r\n|truetruetrue");
  host.AddCode("f = fso.OpenTextFile('b.txt', 2, true); f.Write('Щ'); f.Close();", "w.js");
  EXPECT_EQ(LoadFileBytes(dir.filePath("b.txt")), QByteArray("\xD9"));
}
