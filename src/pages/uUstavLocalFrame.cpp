#include "uUstavLocalFrame.h"
#include "uMultiLingual.h"

#include "uDescriptorXml.h"
#include "uErrors.h"
#include "uFileDialogSink.h"
#include "uMessageSink.h"
#include "uStringGrid.h"
#include "uStringGridEditor.h"
#include "uUstavFrame.h"
#include "uUstavSetFile.h"

#include <QBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QTimer>

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
    : TUstavGridFrame("UstavLocalFrame", Parent), FUstavPage(UstavPage) {
  LabelOtherRelay = new QLabel(QString::fromUtf8(UstavTexts::OtherRelay), clbUstavLevel->parentWidget());
  LabelOtherRelay->setObjectName("LabelOtherRelay");
  LabelOtherRelay->setWordWrap(true);
  LabelOtherRelay->setStyleSheet("color: red; font-weight: bold");
  LabelOtherRelay->hide();
  static_cast<QBoxLayout *>(clbUstavLevel->parentWidget()->layout())->insertWidget(1, LabelOtherRelay);
}

TkvUstavLocalFrame::~TkvUstavLocalFrame() {
  if (FIdentGen)
    FIdentGen->RemoveIdentListener(FIdentToken);
}

void TkvUstavLocalFrame::MadeFrom(const TUnitIdentity &Unit, uint64_t Epoch, std::function<TUnitIdentity()> UnitNow) {
  FRelayUnit = Unit;
  FRelayEpoch = Epoch;
  FEpochOpen = true;
  FUnitNow = std::move(UnitNow);
  FFollows = true;
  if (FUstavPage)
    connect(FUstavPage, &TUstavFrame::ValuesShown, this, &TkvUstavLocalFrame::FollowRelay, Qt::UniqueConnection);
  if (FHost.Chains && !FIdentGen) {
    FIdentGen = FHost.Chains;
    FIdentToken = FIdentGen->AddIdentListener([this] { IdentChanged(); });
  }
}

void TkvUstavLocalFrame::IdentChanged() {
  // The identification the set was matched under ends: the identity the
  // relay has at its end (renewed by the program's own write, perhaps) is
  // the one the next identification is compared with. Identification
  // changes the epoch before it forgets the identity.
  if (FEpochOpen && FIdentGen && FIdentGen->IdentEpoch() != FRelayEpoch) {
    FEpochOpen = false;
    if (const TUnitIdentity now = FUnitNow(); !now.IsEmpty())
      FRelayUnit = now;
  }
  // A relay identified: once the step that identified it has returned (an
  // identification that begins forgets the identity right after this), the
  // tab follows it again when it is its own.
  QTimer::singleShot(0, this, [this] { FollowRelay(); });
}

bool TkvUstavLocalFrame::IsRelayNow() {
  if (!FUnitNow)
    return true;
  const TUnitIdentity now = FUnitNow();
  if (now.IsEmpty())
    return false; // no relay identified (or confirmed): nothing is its
  const uint64_t epoch = IdentEpoch();
  if (FEpochOpen && epoch == FRelayEpoch) {
    FRelayUnit = now;
    return true;
  }
  // The same unit identified again (a reconnect, a poll, "Опрос" at its address).
  if (now.SameUnit(FRelayUnit)) {
    FRelayEpoch = epoch;
    FEpochOpen = true;
    return true;
  }
  return false;
}

bool TkvUstavLocalFrame::IsTypeNow() const {
  return !FUnitNow || FRelayUnit.SameType(FUnitNow());
}

bool TkvUstavLocalFrame::CheckRelay() {
  // No relay: the write gate refuses the write with its own word.
  if (FUnitNow && FUnitNow().IsEmpty())
    return true;
  // A set saved under a name is the engineer's for any relay of its type.
  const bool same = FFollows ? IsRelayNow() : IsTypeNow();
  LabelOtherRelay->setVisible(!same);
  if (!same && FHost.Chains) {
    QStringList names;
    const TWriteBatch edited = ImageBatch(BuildImage());
    for (const TWriteValue &v : edited.Values())
      names << v.Name;
    // Nothing edited yet: the box names the tab.
    const QString what = names.isEmpty() ? QStringLiteral("Редактирование уставок") : names.join(QStringLiteral(", "));
    FHost.Chains->WriteBox(what, QString::fromUtf8(UstavTexts::OtherRelay));
  }
  return same;
}

uint16_t TkvUstavLocalFrame::EditedBits(int Reg) const {
  if (Reg < 0)
    return 0;
  if (!FFollows)
    return 0xFFFF;
  const auto it = FEditedBits.find(Reg);
  return it == FEditedBits.end() ? 0 : it->second;
}

void TkvUstavLocalFrame::FollowRelay() {
  // While identification runs no relay is the tab's, and none is another's.
  if (!IsMadeFromRelay() || FUnitNow().IsEmpty())
    return;
  const bool same = FFollows ? IsRelayNow() : IsTypeNow();
  LabelOtherRelay->setVisible(!same);
  if (!same || !FFollows)
    return;
  // What the relay holds is not the engineer's change to save.
  const bool saved = !IsModified();
  bool changed = false;
  for (uint16_t reg : ImageRegisters()) {
    if (!Modbus().IsValid(reg))
      continue;
    const uint16_t edited = EditedBits(reg);
    const uint16_t word = uint16_t((Modbus().GetWord(reg) & ~edited) | (FOwnImage.GetWord(reg) & edited));
    if (FOwnImage.GetWord(reg) != word) {
      FOwnImage.SetWord(reg, word);
      changed = true;
    }
  }
  if (!changed)
    return;
  UpdateValues();
  if (saved)
    FSavedState = SetState();
}

void TkvUstavLocalFrame::showEvent(QShowEvent *Event) {
  TUstavGridFrame::showEvent(Event);
  // A write on another tab (title panel, boards) read its registers back
  // into the image meanwhile.
  FollowRelay();
}

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
  if (const int reg = EditOwnImage(Col, Row, Text); reg >= 0)
    FEditedBits[reg] |= RowUstav(Row)->EditMask();
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

bool TkvUstavLocalFrame::SaveToFile(const QString &FileName) {
  const IXXMLNode set = FDoc->GetDocumentElement();
  if (!set || !Descriptor())
    throw EKvError("invalid format");
  // The work file is the next edit tab's: what the engineer keeps goes
  // where the engineer chose.
  QString name = FileName;
  if (name.isEmpty() && FFollows) {
    name = AskFileName({TFileDialogKind::Save, QStringLiteral("Сохранить набор уставок как"), "us", "*.us", {}, {}});
    if (name.isEmpty())
      return false;
  }
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
  // A save that fails leaves the tab on the file it shows.
  const QString target = name.isEmpty() ? FFileName : name;
  FDoc->Save(target);
  FFileName = target;
  FSavedState = SetState();
  if (name.isEmpty())
    return true;
  // From now on the tab is the file: its values are the file's, all of them.
  FFollows = false;
  FEditedBits.clear();
  sgUstav->viewport()->update();
  emit FileNamed(name);
  return true;
}

bool TkvUstavLocalFrame::QueryClose() {
  if (!IsModified())
    return true;
  const QString text = MultiLingual().Translate(QString::fromUtf8(SetChangedQuestion)).arg(FFileName);
  return AskSaveBeforeClose(text, [this] { return SaveToFile(QString()); });
}

void TkvUstavLocalFrame::WriteImage(const QByteArray &Image, std::optional<uint64_t> PreparedFor) {
  // A set file is what the engineer chose, every value of it; a set made
  // from the relay holds the engineer's edits and the relay's values. The
  // tab may close while the chain runs: the steps reach it only guarded.
  const TWriteBatch values = ImageBatch(Image);
  const auto shown = [self = Guarded(this, [](TkvUstavLocalFrame *F) { F->sgUstav->viewport()->update(); }),
                      page = Guarded(FUstavPage, [](TUstavFrame *P) { P->ShowValues(); })] {
    page();
    self();
  };
  const auto box = [show = FHost.ShowMessageStep](const QString &Text) {
    return [show, Text](TIOChainList3 &C) {
      C.exec([show, Text] {
        if (show)
          show(Text);
      });
    };
  };
  TRelayWrite relay;
  // The check refuses any unit but the tab's: not the relay identified now
  // when a swap nobody saw put another in its place.
  FWriteFor = MadeForUnit();
  const auto forget = qScopeGuard([this] { FWriteFor = {}; });
  relay.Read = ImageRegisters();
  relay.Fetched = shown;
  relay.Same = box(QString::fromUtf8(UstavTexts::AlreadyHeld));
  RunRelayWrite(values, relay, shown, box(QStringLiteral("Готово")), PreparedFor,
                [self = QPointer<TkvUstavLocalFrame>(this)](const TWriteValue &V) {
                  if (self)
                    self->Settle(V);
                });
}

void TkvUstavLocalFrame::Settle(const TWriteValue &Value) {
  // A set saved under a name keeps the file's values: nothing to settle.
  if (!FFollows)
    return;
  for (const TRegWrite &w : Value.Words) {
    const auto it = FEditedBits.find(w.first);
    if (it != FEditedBits.end() && !(it->second &= uint16_t(~Value.Mask)))
      FEditedBits.erase(it);
  }
  FollowRelay();
  sgUstav->viewport()->update();
}
