#include "uUstavFrame.h"

#include "uAppIniFile.h"
#include "uDescriptorXml.h"
#include "uErrors.h"
#include "uParamCodec.h"
#include "uStringGrid.h"
#include "uStringGridEditor.h"

#include <QLabel>
#include <QLayout>
#include <QListWidget>
#include <QPointer>
#include <QScopeGuard>
#include <algorithm>
#include <set>

TUstavFrame::TUstavFrame(QWidget *Parent) : TUstavGridFrame("UstavFrame", Parent) {
  LabelEditor = new QLabel(QStringLiteral("Редактор"), clbUstavLevel->parentWidget());
  LabelEditor->setObjectName("LabelEditor");
  QFont f = LabelEditor->font();
  f.setBold(true);
  f.setPixelSize(16);
  LabelEditor->setFont(f);
  LabelEditor->setStyleSheet("color: red");
  LabelEditor->hide();
  static_cast<QBoxLayout *>(clbUstavLevel->parentWidget()->layout())->insertWidget(1, LabelEditor);
}

void TUstavFrame::Init() {
  SetEditMode(false);
  Clear();
}

int TUstavFrame::DirectEdit() const { return FHost.Ini ? FHost.Ini->ReadInteger("ustav", "directEdit", 0) : 0; }

void TUstavFrame::SetDescriptor(const IXXMLNode &Root) {
  Clear();
  // Nothing written as typed to another relay stays.
  if (!FEditMode)
    FEdited.clear();
  TDescriptorGridFrame::SetDescriptor(Root);
  if (!Root)
    return;
  BuildFrom(Root, Root->SelectNodes(DXQ_GROUP_MREG)->GetCount(), true);
}

QColor TUstavFrame::BaseColor() const { return FEditMode ? QColor(Qt::white) : palette().button().color(); }

void TUstavFrame::UpdateValues() {
  if (!FEditMode) {
    // The relay's words, the bits written as typed that stay the engineer's over them.
    std::vector<std::pair<int, uint16_t>> typed;
    for (const auto &[reg, bits] : FEdited)
      typed.emplace_back(reg, uint16_t((Modbus().GetWord(reg) & ~bits) | (FOwnImage.GetWord(reg) & bits)));
    FOwnImage.Assign(Modbus());
    for (const auto &[reg, word] : typed)
      FOwnImage.SetWord(reg, word);
  }
  for (int r = 1; r <= int(FRows.size()); ++r) {
    const TUstav &u = *FRows[size_t(r - 1)];
    for (int g = 0; g < FGroupCount; ++g) {
      const int reg = u.Reg(g);
      if (reg >= 0 && (FEditMode || Modbus().IsValid(reg)))
        sgUstav->SetCells(g + 2, r, u.ValueToText(FOwnImage.GetWord(reg), FPrimary));
    }
  }
  sgUstav->viewport()->update();
  emit ValuesShown();
}

void TUstavFrame::ShowValues() {
  if (!FEditMode) {
    FEdited.clear();
    FUnconfirmed.clear();
  }
  UpdateValues();
}

void TUstavFrame::DropTyped(const std::set<int> &Regs) {
  if (FEditMode)
    return;
  for (int r : Regs) {
    FEdited.erase(r);
    FUnconfirmed.erase(r);
  }
}

void TUstavFrame::Refresh() {
  std::set<int> regs;
  for (const TUstav *u : FRows)
    if (u->CanRead())
      for (int g = 0; g < FGroupCount; ++g)
        if (u->Reg(g) >= 0)
          regs.insert(u->Reg(g));
  if (regs.empty() || !FHost.Chains)
    return;
  TIOChainList3 &chain = FHost.Chains->newList();
  QBuffer &request = chain.Buffer(), &data = chain.Buffer();
  const TIOChainList3 &seen = chain;
  for (int r : regs)
    StreamWriteWord(request, r);
  request.seek(0);
  chain.ownedBy(this)
      .checkedRead()
      .msg("Чтение уставок")
      .readReg(request, data)
      .execStream([](QIODevice *D) { Modbus().LoadRegValues(*D); }, &data)
      .exec(Guarded(this,
                    [regs, &seen](TUstavFrame *P) {
                      // Of the unit the read's check saw.
                      if (!seen.SeenUnit().IsEmpty())
                        P->FReadUnit = seen.SeenUnit();
                      P->DropTyped(regs);
                      P->UpdateValues();
                    }))
      .msg("Готово")
      .run(FHost.Progress);
}

void TUstavFrame::UpdateMeasureFactors() {
  for (auto &u : FUstavs)
    u->UpdateMeasureFactors(Modbus());
}

void TUstavFrame::UpdateNames() {
  const IXXMLNode root = Descriptor();
  if (!root)
    return;
  for (auto &u : FUstavs) {
    const IXXMLNode node = root->SelectSingleNode(QString(DXQ_USTAV_BY_IDER).arg(u->Ider));
    if (!node)
      continue;
    QString name = node->GetStrNodeDef(DXQ_NAME, QString());
    if (const auto *bit = dynamic_cast<const TUstavBit *>(u.get()))
      name += " / " + node->GetStrNodeDef(QString(DXQ_VALUE_TEXT_AT).arg(bit->Bit + 1), QString());
    u->Name = name;
  }
  BuildRows();
  UpdateValues();
}

void TUstavFrame::SetPrimaryValues(bool Value) {
  FPrimary = Value;
  UpdateValues();
}

void TUstavFrame::SetEditMode(bool Value) {
  FEditMode = Value;
  FEdited.clear();
  FUnconfirmed.clear();
  FOwnImage.Assign(Modbus());
  LabelEditor->setVisible(Value);
  sgUstav->viewport()->update();
  if (!Value)
    Refresh();
}

void TUstavFrame::GetCellEditor(int Col, int Row, TCellEditorRequest &R) {
  R.Kind = TCellEditorRequest::ekNone;
  R.PasswordChar = QChar();
  const TUstav *u = RowUstav(Row);
  const int direct = DirectEdit();
  if (!u || direct == 0 || (direct == 2 && !FEditMode) || Col < 2 || Col > 3)
    return;
  const int reg = u->Reg(Col - 2);
  if (reg < 0 || !Modbus().IsValid(reg) || !u->CanWrite())
    return;
  ChooseEditor(*u, R);
  if (R.Kind != TCellEditorRequest::ekNone) {
    FEditEpoch = IdentEpoch();
    FEditUnit = FReadUnit;
  }
}

void TUstavFrame::CellEdited(int Col, int Row, const QString &Text) {
  const TUstav *u = RowUstav(Row);
  const int reg = u ? u->Reg(Col - 2) : -1;
  if (reg < 0)
    return;
  if (DirectEdit() == 2) {
    if (FEdited.empty() || FEditEpoch < FEditedEpoch) {
      FEditedEpoch = FEditEpoch;
      FEditedUnit = FEditUnit;
    }
    if (const int edited = EditOwnImage(Col, Row, Text); edited >= 0)
      FEdited[edited] |= u->EditMask();
    return;
  }
  const int w = u->TextToValue(Text, FPrimary);
  // A bit row changes its bit of the word the relay holds as the write goes.
  TWriteValue value = CellValue(*u, reg, uint16_t(u->Apply(Modbus().GetWord(reg), w)));
  value.Tag = 0;
  TWriteBatch batch;
  batch.Add(value);
  // Refused before the password is asked: nothing would be sent anyway.
  if (LimitCheckOn())
    if (const QString report = batch.LimitReport(); !report.isEmpty())
      throw EKvError(report);
  // An edit begun for another device goes to the write gate, which drops
  // it with its box: no password is asked for it.
  const bool stale = FEditEpoch != IdentEpoch();
  if (!stale && FHost.RequestUserRights && !FHost.RequestUserRights())
    return;
  FWriteFor = FEditUnit;
  RunWrite(batch, Guarded(this, [](TUstavFrame *P) { P->UpdateValues(); }), nullptr, FEditEpoch,
           [this, epoch = FEditEpoch](const TWriteValue &V, TWriteFate Fate) { TypedWritten(V, Fate, epoch); });
  FWriteFor = {};
}

void TUstavFrame::TypedWritten(const TWriteValue &Value, TWriteFate Fate, uint64_t Epoch) {
  // Bound again since the cell was typed: its value is of another identification.
  if (Epoch != IdentEpoch())
    return;
  // Not kept, or not read back: the engineer's bits over the relay's word.
  // Any other fate shows the relay (not sent, or unanswered and read again:
  // the write's report names the value).
  if (Fate == TWriteFate::NotKept || Fate == TWriteFate::Unconfirmed) {
    const uint16_t bits = Value.Words.size() == 1 ? Value.Mask : 0xFFFF;
    for (const TRegWrite &w : Value.Words) {
      FOwnImage.SetWord(w.first, uint16_t((FOwnImage.GetWord(w.first) & ~bits) | (w.second & bits)));
      FEdited[w.first] |= bits;
    }
  } else {
    Settle(Value);
  }
  MarkUnconfirmed(Value, Fate == TWriteFate::Unconfirmed);
  UpdateValues();
}

void TUstavFrame::Settle(const TWriteValue &Value) {
  for (const TRegWrite &w : Value.Words) {
    const auto it = FEdited.find(w.first);
    if (it == FEdited.end() || !Modbus().IsValid(w.first))
      continue;
    const uint16_t bits = Value.Mask;
    FOwnImage.SetWord(w.first, uint16_t((FOwnImage.GetWord(w.first) & ~bits) | (Modbus().GetWord(w.first) & bits)));
    if (!(it->second &= uint16_t(~bits)))
      FEdited.erase(it);
  }
}

void TUstavFrame::ShowChanged(const std::vector<uint16_t> &Regs) {
  DropTyped(std::set<int>(Regs.begin(), Regs.end()));
  // An edited word keeps its edited bits; the others show the relay's.
  for (uint16_t r : Regs)
    if (Modbus().IsValid(r)) {
      const uint16_t edited = EditedBits(r);
      FOwnImage.SetWord(r, uint16_t((Modbus().GetWord(r) & ~edited) | (FOwnImage.GetWord(r) & edited)));
    }
  UpdateValues();
}

void TUstavFrame::WriteImage(const QByteArray &Image) {
  const TWriteBatch edited = ImageBatch(Image);
  // The edit mode ends after a whole write, also when the relay held it
  // all; a write that stopped part-way leaves what it did not write edited.
  const auto done = [page = QPointer<TUstavFrame>(this), box = FHost.ShowMessageStep](const QString &Text) {
    return [page, box, Text](TIOChainList3 &C) {
      C.exec([page, box, Text] {
        if (box)
          box(Text);
        if (page)
          page->SetEditMode(false);
      });
    };
  };
  TRelayWrite relay;
  // Values typed go to the unit they were typed against only.
  FWriteFor = FEdited.empty() ? TUnitIdentity() : FEditedUnit;
  const auto forget = qScopeGuard([this] { FWriteFor = {}; });
  relay.Fetched = Guarded(this, [](TUstavFrame *P) { P->sgUstav->viewport()->update(); });
  relay.Same = done(QString::fromUtf8(UstavTexts::AlreadyHeld));
  RunRelayWrite(
      edited, relay, Guarded(this, [](TUstavFrame *P) { P->UpdateValues(); }),
      done(QStringLiteral("Уставки успешно записаны")),
      FEdited.empty() ? std::nullopt : std::optional<uint64_t>(FEditedEpoch),
      [page = QPointer<TUstavFrame>(this)](const TWriteValue &V) {
        if (page) {
          page->Settle(V);
          page->UpdateValues();
        }
      });
}

void TUstavFrame::SaveToFile(const QString &FileName) {
  const IXXMLNode root = Descriptor();
  if (!root)
    throw EKvError("Нет дескриптора");
  IXXMLDocument doc = NewXMLDocument();
  doc->LoadXML("<stored-ustav/>");
  const IXXMLNode set = doc->GetDocumentElement();
  set->AppendChild(root->CloneNode(true));
  set->SetStrNode("hash", QString::fromLatin1(GetDescriptorDigest().toHex().toUpper()));
  const IXXMLNode modbus = set->AddChild("modbus");
  const IXXMLNodeList nodes = root->SelectNodes(DXQ_USTAV_SETPOINTS);
  for (int i = 0; i < nodes->GetCount(); ++i) {
    const IXXMLNode n = nodes->GetItem(i);
    if ((n->GetIntNodeDef(DX_MODBUS_ACC, 0) & 3) != 3)
      continue;
    for (int g = 1; g <= 2; ++g) {
      // Only real registers: a single-group device gives 65535 for group 2.
      const int reg = n->GetIntNodeDef(QString(DXQ_MREG_N).arg(g), -1);
      if (reg < 0 || reg >= TModbus::RegCount || Modbus().GetWord(reg) == 0)
        continue;
      // Bits written and not read back are the engineer's, as the page shows them.
      uint16_t word = Modbus().GetWord(reg);
      if (const auto it = FUnconfirmed.find(reg); it != FUnconfirmed.end())
        word = uint16_t((word & ~it->second) | (FOwnImage.GetWord(reg) & it->second));
      const IXXMLNode item = modbus->AddChild("item");
      item->SetIntAttr("mreg", reg);
      item->SetIntAttr("val", word);
    }
  }
  doc->Save(FileName);
}

QString TUstavFrame::RegValueText(int Reg, int Value) const {
  const TUstav *u = FindByReg(Reg);
  return u ? u->ValueToText(Value, FPrimary) : QStringLiteral("?");
}

int TUstavFrame::TextToRegValue(int Reg, const QString &Text) const {
  const TUstav *u = FindByReg(Reg);
  return u ? u->TextNumber(Text, FPrimary) : 65535;
}
