#include "uUstavLocalFrame.h"
#include "uMultiLingual.h"

#include "uDescriptorXml.h"
#include "uErrors.h"
#include "uMessageSink.h"
#include "uStringGrid.h"
#include "uStringGridEditor.h"
#include "uUstavFrame.h"
#include "uUstavSetFile.h"

#include <QListWidget>
#include <QSignalBlocker>

namespace {
// Only groups 1 and 2 of a set are stored.
constexpr int SetGroups = 2;
const char *const SetpointXPath = DXQ_USTAV_SETPOINTS;
// Asked as the title panel's unsaved changes are: yes, no or cancel.
const char *const SetChangedQuestion = "Изменения набора уставок %1 не сохранены, сохранить?";

// The register of group G (from 1) of a setpoint element; -1 when none.
int GroupReg(const IXXMLNode &Node, int G) {
  const int r = Node->GetIntNodeDef(QString(DXQ_MREG_N).arg(G), -1);
  return r >= 0 && r < TModbus::RegCount ? r : -1;
}
} // namespace

TkvUstavLocalFrame::TkvUstavLocalFrame(TUstavFrame *UstavPage, QWidget *Parent)
    : TUstavGridFrame("UstavLocalFrame", Parent), FUstavPage(UstavPage) {}

void TkvUstavLocalFrame::Init() {
  Clear();
  SetGroupCount(SetGroups);
  for (int g = 0; g < SetGroups; ++g)
    sgUstav->SetCells(g + 2, 0, MultiLingual().Translate(QString("Группа %1").arg(g + 1)));
  FDoc = NewXMLDocument();
  FDoc->LoadXML("<document/>");
}

void TkvUstavLocalFrame::LoadFromFile(const QString &FileName) {
  FFileName = FileName;
  // A set that does not load leaves nothing of the previous one to save.
  FDoc = NewXMLDocument();
  TUstavSetFile set = ReadUstavSetFile(FileName);
  FDoc = set.Doc;
  const IXXMLNode desc = set.Descriptor;
  const int groups = set.Groups;
  for (int r = 0; r < TModbus::RegCount; ++r)
    FOwnImage.SetWord(r, 0);
  for (const auto &[reg, value] : std::as_const(set.Values))
    FOwnImage.SetWord(reg, value);
  Clear();
  TDescriptorGridFrame::SetDescriptor(desc);
  BuildFrom(desc, groups, false);
  for (int g = 0; g < groups; ++g)
    sgUstav->SetCells(g + 2, 0, MultiLingual().Translate(QString("Группа %1").arg(g + 1)));
  FSavedState = SetState();
}

void TkvUstavLocalFrame::CopyLevelChecks(const QListWidget *Source) {
  if (!Source || Source->count() != clbUstavLevel->count())
    return;
  {
    const QSignalBlocker block(clbUstavLevel);
    for (int i = 0; i < Source->count(); ++i)
      clbUstavLevel->item(i)->setCheckState(Source->item(i)->checkState());
  }
  BuildRows();
  UpdateValues();
}

void TkvUstavLocalFrame::UpdateValues() {
  for (int r = 1; r <= int(FRows.size()); ++r) {
    const TUstav &u = *FRows[size_t(r - 1)];
    for (int g = 0; g < FGroupCount; ++g)
      if (const int reg = u.Reg(g); reg >= 0 && FOwnImage.IsValid(reg))
        sgUstav->SetCells(g + 2, r, u.ValueToText(FOwnImage.GetWord(reg), FPrimary));
  }
  sgUstav->viewport()->update();
}

void TkvUstavLocalFrame::GetCellEditor(int Col, int Row, TCellEditorRequest &R) {
  R.Kind = TCellEditorRequest::ekNone;
  R.PasswordChar = QChar();
  const TUstav *u = RowUstav(Row);
  const int reg = u && Col >= 2 ? u->Reg(Col - 2) : -1;
  if (reg < 0 || Col - 2 >= FGroupCount || !u->CanWrite() || !FOwnImage.IsValid(reg))
    return;
  ChooseEditor(*u, R);
}

void TkvUstavLocalFrame::CellEdited(int Col, int Row, const QString &Text) {
  EditOwnImage(Col, Row, Text);
  sgUstav->viewport()->update();
}

std::vector<std::pair<int, int>> TkvUstavLocalFrame::StoredValues() const {
  std::vector<std::pair<int, int>> values;
  const IXXMLNode desc = Descriptor();
  if (!desc)
    return values;
  const IXXMLNodeList nodes = desc->SelectNodes(SetpointXPath);
  for (int i = 0; i < nodes->GetCount(); ++i) {
    const IXXMLNode n = nodes->GetItem(i);
    if ((n->GetIntNodeDef(DX_MODBUS_ACC, 0) & 3) != 3)
      continue;
    for (int g = 1; g <= SetGroups; ++g)
      if (const int reg = GroupReg(n, g); reg >= 0 && FOwnImage.GetWord(reg) != 0)
        values.emplace_back(reg, FOwnImage.GetWord(reg));
  }
  return values;
}

QString TkvUstavLocalFrame::SetState() const {
  const IXXMLNode desc = Descriptor();
  QString state = desc ? desc->GetXml() : QString();
  for (const auto &[reg, value] : StoredValues())
    state += QStringLiteral(" %1=%2").arg(reg).arg(value);
  return state;
}

void TkvUstavLocalFrame::SaveToFile(const QString &FileName) {
  const IXXMLNode set = FDoc->GetDocumentElement();
  if (!set || !Descriptor())
    throw EKvError("invalid format");
  // A set without "modbus" gets one.
  IXXMLNode modbus = set->SelectSingleNode("modbus");
  if (modbus)
    modbus->Remove();
  modbus = set->AddChild("modbus");
  for (const auto &[reg, value] : StoredValues()) {
    const IXXMLNode item = modbus->AddChild("item");
    item->SetIntAttr("mreg", reg);
    item->SetIntAttr("val", value);
  }
  if (!FileName.isEmpty())
    FFileName = FileName;
  FDoc->Save(FFileName);
  FSavedState = SetState();
}

bool TkvUstavLocalFrame::QueryClose() {
  if (!IsModified())
    return true;
  const QString text = MultiLingual().Translate(QString::fromUtf8(SetChangedQuestion)).arg(FFileName);
  return AskSaveBeforeClose(text, [this] {
    SaveToFile(QString());
    return true;
  });
}

void TkvUstavLocalFrame::WriteImage(const QByteArray &Image, std::optional<uint64_t> PreparedFor) {
  // Applying a set is what it is for: every value that differs from the
  // device's goes. The tab may close while the chain runs: the steps hold no
  // bare pointer to it.
  const auto shown = [self = QPointer<TkvUstavLocalFrame>(this), page = QPointer<TUstavFrame>(FUstavPage)] {
    if (self)
      self->sgUstav->viewport()->update();
    if (page)
      page->ShowValues();
  };
  RunWrite(
      ImageBatch(Image, nullptr), shown,
      [this](TIOChainList3 &C) {
        C.execStrings(
            [show = FHost.ShowMessageStep](const QStringList &Args) {
              if (show && !Args.isEmpty())
                show(Args.first());
            },
            QStringLiteral("Готово"));
      },
      PreparedFor);
}
