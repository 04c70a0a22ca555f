#pragma once
// Reads an ".xlsx" back with a reader that is not ours: Debian's openpyxl
// under /usr/bin/python3. Each sheet gives its name, its texts by "A1"-style
// reference (a date-time as "yyyy-mm-dd hh:mm:ss.zzz|number format") and the
// widths of the columns given one.
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>

inline QJsonObject DumpXlsx(const QString &Path) {
  static const char *const script = R"PY(
import json, sys, openpyxl
book = openpyxl.load_workbook(sys.argv[1])
out = {"sheets": []}
for ws in book.worksheets:
    cells = {c.coordinate: c.value for row in ws.iter_rows() for c in row if c.value is not None}
    # A date-time as "date time.ms|number format".
    cells = {k: v.isoformat(sep=" ", timespec="milliseconds") + "|" + ws[k].number_format
             if hasattr(v, "isoformat") else v for k, v in cells.items()}
    widths = {k: v.width for k, v in ws.column_dimensions.items() if v.customWidth}
    out["sheets"].append({"name": ws.title, "cells": cells, "widths": widths})
print(json.dumps(out))
)PY";
  QProcess p;
  p.start("/usr/bin/python3", {"-c", script, Path});
  if (!p.waitForFinished(60000) || p.exitCode() != 0)
    return QJsonObject{{"error", QString::fromUtf8(p.readAllStandardError())}};
  return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}
