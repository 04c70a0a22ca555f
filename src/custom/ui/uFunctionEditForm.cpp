#include "uFunctionEditForm.h"

#include "uAppIniFile.h"
#include "uConfigurator.h"
#include "uCustomBuild.h"
#include "uDeviceDescriptor.h"
#include "uErrors.h"
#include "uSchemaModule.h"
#include "uDDUstavBitForm.h"
#include "uMessageSink.h"
#include "uMultiLingual.h"
#include "uStringGridEditor.h"
#include "uTranslateTexts.h"
#include "uUstavListForm.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
QString Tr(const char *Text) { return MultiLingual().Translate(QString::fromUtf8(Text)); }
} // namespace

QStringList FunctionEdgeNames() { return {QStringLiteral(" "), Tr("Передний"), Tr("Задний"), Tr("Оба")}; }

namespace {
QString RefText(const TDDUstav &U, int Group) {
  const uint16_t v = U.GetValue(Group);
  if (U.Kind == TDDUstav::ukNumeric)
    return U.GetNumeric().ValueToStr(v);
  if (U.RecordType == 49)
    return QString::number(v);
  if (U.RecordType == 53)
    return IntToBinStr(v, 16);
  throw EKvError(QString::asprintf("invalid RecordType %2.2x", U.RecordType));
}

// Template: the pin's title with "%1" for its number.
void Resize(QList<TFunctionPinRow> &Rows, int N, const QString &Template) {
  while (Rows.size() > N)
    Rows.removeLast();
  while (Rows.size() < N)
    Rows.append({Template.arg(Rows.size() + 1)});
}

int CountOf(const QString &Text, int Min, int Max, const char *Error) {
  bool ok = false;
  const int n = Text.trimmed().toInt(&ok);
  if (!ok || n < Min || n > Max)
    throw EKvError(Error);
  return n;
}

// The module holding another function block of the same kind (or block of
// the same type) with that gid, nullptr when none.
TModule *GidHolder(TModule *M, const TElement &Self, int Gid) {
  for (TAbstract *a : M->AbstractList.Items()) {
    if (auto *sub = dynamic_cast<TModule *>(a)) {
      if (TModule *h = GidHolder(sub, Self, Gid))
        return h;
      continue;
    }
    auto *e = dynamic_cast<TElement *>(a);
    if (!e || e == &Self || e->Gid != Gid || e->Type != Self.Type)
      continue;
    if (Self.Type != atDescriptor || (e->Func && Self.Func && e->Func->Kind == Self.Func->Kind))
      return M;
  }
  return nullptr;
}
} // namespace

void TFunctionEditState::Fill(TElement &E, const TDeviceDescriptor *Desc) {
  Element = &E;
  Func = E.Func;
  EventNames.clear();
  if (Desc)
    for (const auto &ev : Desc->FEvents)
      EventNames << ev->String;
  Caption = E.Caption;
  Gid = QString::number(E.Gid);
  GidReadOnly = !Func || Func->Kind == 0;
  InReadOnly = !Func || Func->IMin >= Func->IMax;
  OutReadOnly = !Func || Func->OMin >= Func->OMax;
  InCount = QString::number(E.InputPins.Count());
  OutCount = QString::number(E.OutputPins.Count());
  Inputs.clear();
  Outputs.clear();
  for (int i = 0; i < E.InputPins.Count(); ++i)
    Inputs.append({Tr("Вход %1").arg(i + 1), E.InputPins[i]->Inverted, {}, {},
                   E.InputPins[i]->Caption});
  for (int i = 0; i < E.OutputPins.Count(); ++i) {
    const TPin *p = E.OutputPins[i];
    const TDDEvent *ev = p->GetEvent();
    Outputs.append({Tr("Выход %1").arg(i + 1), p->Inverted, FunctionEdgeNames().value(p->GetEventEdge()), ev ? ev->String : QString(), p->Caption});
  }
  for (int i = 0; i < 16; ++i) {
    TFunctionRefRow &r = Rows[size_t(i)];
    r = {};
    if (!RowInUse(i))
      continue;
    const TElementRef ref = E.GetRef(i);
    if (ref.Ustav) {
      r.Ustav = ref.Ustav;
      r.Values = {RefText(*ref.Ustav, 0), RefText(*ref.Ustav, 1)};
    } else if (ref.Param) {
      r.Param = ref.Param;
      r.Values[0] = QString::number(ref.Param->Value);
    }
  }
  Switch = E.Switch;
  PenColor = E.PenColor;
  ParamNames = Func ? Func->Params : QStringList();
  ParamValues = E.Params.mid(0, ParamNames.size());
  while (ParamValues.size() < ParamNames.size())
    ParamValues << QString();
  ParamCount = int(ParamNames.size());
}

void TFunctionEditState::RemoveParamRow() {
  if (ParamCount <= 0)
    return;
  --ParamCount;
  ParamValues[ParamCount].clear();
}

void TFunctionEditState::SetInputCount(const QString &Text) {
  if (!Text.isEmpty())
    Resize(Inputs, qMax(0, Text.toInt()), Tr("Вход %1"));
  InCount = Text;
}

void TFunctionEditState::SetOutputCount(const QString &Text) {
  if (!Text.isEmpty())
    Resize(Outputs, qMax(0, Text.toInt()), Tr("Выход %1"));
  OutCount = Text;
}

void TFunctionEditState::SetEdge(int OutRow, const QString &Text) {
  TFunctionPinRow &r = Outputs[OutRow];
  r.Edge = Text;
  if (Text.isEmpty())
    r.Event.clear();
}

void TFunctionEditState::SetEvent(int OutRow, const QString &Text) {
  TFunctionPinRow &r = Outputs[OutRow];
  r.Event = Text;
  if (Text.isEmpty())
    r.Edge.clear();
}

bool TFunctionEditState::RowInUse(int Row) const {
  if (!Func || Row >= qMin(int(Func->Ustavs.size()), 16))
    return false;
  switch (Func->UstavLimit) {
  case 0: return true;
  case 1: return Row < Inputs.size();
  case 2: return Row < Outputs.size();
  default: return false;
  }
}

void TFunctionEditState::ChooseUstav(int Row, TDDUstav *Ustav) {
  // An unusable record is refused before the group loses its binding.
  const std::array<QString, 2> values = {RefText(*Ustav, 0), RefText(*Ustav, 1)};
  const int group = Func ? Func->UstavGroup(Row) : 0;
  if (group > 0)
    for (int i = 0; i < qMin(int(Func->Ustavs.size()), 16); ++i)
      if (Func->UstavGroup(i) == group)
        Rows[size_t(i)] = {};
  TFunctionRefRow &r = Rows[size_t(Row)];
  r = {};
  r.Ustav = Ustav;
  r.Values = values;
}

void TFunctionEditState::ChooseParam(int Row, TDDParam *Param) {
  TFunctionRefRow &r = Rows[size_t(Row)];
  r = {};
  r.Param = Param;
  r.Values[0] = QString::number(Param->Value);
}

void TFunctionEditState::Check() const {
  CountOf(InCount, Func ? Func->IMin : 0, Func ? Func->IMax : 0, "invalid input pin count");
  CountOf(OutCount, Func ? Func->OMin : 0, Func ? Func->OMax : 0, "invalid output pin count");
  // A bit text too long for its word, or a number outside the setpoint's
  // limits (the relay would be sent it with the logic), keeps the dialog open
  // with the message.
  for (const TFunctionRefRow &r : Rows)
    if (r.Ustav && r.Ustav->Kind != TDDUstav::ukNumeric && r.Ustav->RecordType == 53)
      for (const QString &v : r.Values)
        BinStrToInt(v);
    else if (r.Ustav && r.Ustav->Kind == TDDUstav::ukNumeric && LimitCheck)
      for (const QString &v : r.Values)
        if (const QString line = UstavLimitLine(*r.Ustav, r.Ustav->GetNumeric().StrToValue(v)); !line.isEmpty())
          throw EKvRange(line);
}

void TFunctionEditState::Apply(const TDeviceDescriptor *Desc) {
  Check();
  TElement &e = *Element;
  // Every value is read before anything is written, so a bad number text
  // leaves the block and the descriptor as they were.
  std::array<std::array<uint16_t, 2>, 16> values{};
  for (int i = 0; i < qMin(e.RefCount(), 16); ++i)
    if (const TFunctionRefRow &r = Rows[size_t(i)]; r.Ustav)
      for (int g = 0; g < 2; ++g) {
        if (r.Ustav->Kind == TDDUstav::ukNumeric)
          values[i][g] = r.Ustav->GetNumeric().StrToValue(r.Values[g]);
        else if (r.Ustav->RecordType == 53)
          values[i][g] = uint16_t(BinStrToInt(r.Values[g]));
        else
          values[i][g] = uint16_t(r.Values[g].toInt());
      }
  if (!Gid.isEmpty() && Gid.toInt() != e.Gid) {
    const int gid = Gid.toInt();
    if (e.Module)
      if (TModule *holder = GidHolder(e.Module->RootModule(), e, gid))
        throw EKvError(QStringLiteral("gid занят, модуль ") + holder->Caption);
    e.SetGid(gid);
  }
  e.Caption = Caption;
  const int in = InCount.toInt(), out = OutCount.toInt();
  e.DropInputLinksFrom(in);
  e.DropOutputLinksFrom(out);
  e.SetPinCounts(in, out);
  for (int i = 0; i < in; ++i) {
    e.InputPins[i]->Inverted = Inputs[i].Inverted;
    e.InputPins[i]->Caption = Inputs[i].Name;
  }
  for (int i = 0; i < out; ++i) {
    TPin *p = e.OutputPins[i];
    const TFunctionPinRow &r = Outputs[i];
    p->Inverted = r.Inverted;
    p->SetEventEdge(uint8_t(qMax(0, FunctionEdgeNames().indexOf(r.Edge))));
    TDDEvent *ev = nullptr;
    if (Desc)
      for (const auto &d : Desc->FEvents)
        if (!r.Event.isEmpty() && d->String == r.Event)
          ev = d.get();
    p->SetEvent(ev);
    p->Caption = r.Name;
  }
  for (int i = 0; i < qMin(e.RefCount(), 16); ++i) {
    const TFunctionRefRow &r = Rows[size_t(i)];
    e.SetRef(i, e.MakeRef(r.Param, r.Ustav));
    if (r.Param)
      r.Param->SetValue(uint16_t(r.Values[0].toInt()));
    if (r.Ustav)
      for (int g = 0; g < 2; ++g)
        r.Ustav->SetValue(g, values[i][g]);
  }
  e.Switch = Switch;
  e.PenColor = PenColor;
  e.UpdateGraphic();
}

namespace {
// The chooser buttons' glyphs: a plus ("bmpplus") and a tick ("bmpmark").
QIcon Glyph(bool Plus) {
  QPixmap pm(12, 12);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setPen(QPen(Plus ? Qt::darkGreen : Qt::darkBlue, 2));
  if (Plus) {
    p.drawLine(6, 1, 6, 11);
    p.drawLine(1, 6, 11, 6);
  } else {
    p.drawLine(1, 6, 5, 10);
    p.drawLine(5, 10, 11, 2);
  }
  return QIcon(pm);
}

// Column 1 of a pin row is a 10 by 10 square: black for inverted.
class TInversionDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter *P, const QStyleOptionViewItem &O, const QModelIndex &I) const override {
    if (I.column() != 1) {
      QStyledItemDelegate::paint(P, O, I);
      return;
    }
    const QRect r(O.rect.center() - QPoint(5, 5), QSize(10, 10));
    P->fillRect(r, I.data().toString() == "1" ? Qt::black : Qt::white);
    P->setPen(Qt::black);
    P->drawRect(r);
  }
};
} // namespace

TFunctionEditForm::TFunctionEditForm(QWidget *Parent) : QDialog(Parent) {
  setObjectName("FunctionEditForm");
  setWindowTitle(QStringLiteral("Редактирование элемента - функции"));
  auto *main = new QVBoxLayout(this);
  auto *head = new QGridLayout;
  EditId = new QLineEdit;
  EId = new QLineEdit;
  EditId->setReadOnly(true);
  EId->setReadOnly(true);
  eCaption = new QLineEdit;
  eGId = new QLineEdit;
  eIpin = new QLineEdit;
  eOpin = new QLineEdit;
  SpeedButtonColor = new QPushButton(QStringLiteral("Цвет линий"));
  PanelColor = new QLabel;
  PanelColor->setFixedSize(40, 20);
  PanelColor->setAutoFillBackground(true);
  int col = 0;
  for (auto [text, w] : std::initializer_list<std::pair<const char *, QWidget *>>{
           {"Функция", EditId}, {"Id", EId}, {"Наименование", eCaption}, {"gid", eGId}, {"Входы", eIpin},
           {"Выходы", eOpin}}) {
    head->addWidget(new QLabel(QString::fromUtf8(text)), 0, col);
    head->addWidget(w, 1, col++);
  }
  head->addWidget(SpeedButtonColor, 1, col++);
  head->addWidget(PanelColor, 1, col);
  head->setColumnStretch(2, 1);
  main->addLayout(head);

  StringGrid = new QTableWidget(0, 5);
  StringGrid->setHorizontalHeaderLabels(QStringLiteral("№,Инверт.,Фронт,Событие,Наименование").split(','));
  StringGrid->verticalHeader()->hide();
  StringGrid->horizontalHeader()->setStretchLastSection(true);
  StringGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGrid->setItemDelegate(new TInversionDelegate(StringGrid));
  main->addWidget(StringGrid, 2);
  FCellEditor = new TStringGridEditor(StringGrid);
  FCellEditor->SetOnGetCellEditor([this](int Col, int Row, TCellEditorRequest &R) {
    const bool output = Row >= FState.Inputs.size();
    if (Col == 4)
      R.Kind = TCellEditorRequest::ekEdit;
    else if (output && (Col == 2 || Col == 3)) {
      R.Kind = TCellEditorRequest::ekList;
      R.Items = Col == 2 ? FunctionEdgeNames() : FState.EventNames;
    }
  });
  FCellEditor->SetOnCellEdited([this](int Col, int Row, const QString &Text) {
    ReadPins();
    const int out = Row - int(FState.Inputs.size());
    const QStringList items = Col == 2 ? FunctionEdgeNames() : FState.EventNames;
    if (Col == 2 || Col == 3) {
      const QString name = items.value(Text.toInt());
      Col == 2 ? FState.SetEdge(out, name) : FState.SetEvent(out, name);
    } else if (Col == 4) {
      (Row < FState.Inputs.size() ? FState.Inputs[Row] : FState.Outputs[out]).Name = Text;
    }
    ShowPins();
  });
  connect(StringGrid, &QTableWidget::cellPressed, this, [this](int Row, int Col) {
    if (Col != 1)
      return;
    ReadPins();
    TFunctionPinRow &r = Row < FState.Inputs.size() ? FState.Inputs[Row] : FState.Outputs[Row - FState.Inputs.size()];
    r.Inverted = !r.Inverted;
    ShowPins();
  });

  auto *rows = new QWidget;
  FRowGrid = new QGridLayout(rows);
  FRowGrid->setVerticalSpacing(1);
  FRowGrid->addWidget(new QLabel(QStringLiteral("Группа 1")), 0, 4);
  FRowGrid->addWidget(new QLabel(QStringLiteral("Группа 2")), 0, 5);
  for (int i = 0; i < 16; ++i) {
    TRowWidgets &w = UstavRows[size_t(i)];
    w.Name = new QLabel(QStringLiteral("---"));
    w.ChooseUstav = new QToolButton;
    w.ChooseUstav->setIcon(Glyph(true));
    w.ChooseUstav->setToolTip(QStringLiteral("Выбрать уставку"));
    w.ChooseParam = new QToolButton;
    w.ChooseParam->setIcon(Glyph(true));
    w.ChooseParam->setToolTip(QStringLiteral("Выбрать параметр"));
    w.Edit = new QToolButton;
    w.Edit->setIcon(Glyph(false));
    w.Edit->setToolTip(QStringLiteral("Редактировать"));
    for (QToolButton *b : {w.ChooseUstav, w.ChooseParam, w.Edit})
      b->setAutoRaise(true);
    FRowGrid->addWidget(w.ChooseUstav, i + 1, 0);
    FRowGrid->addWidget(w.ChooseParam, i + 1, 1);
    FRowGrid->addWidget(w.Edit, i + 1, 2);
    FRowGrid->addWidget(w.Name, i + 1, 3);
    connect(w.ChooseUstav, &QToolButton::clicked, this, [this, i] { ChooseUstav(i); });
    connect(w.ChooseParam, &QToolButton::clicked, this, [this, i] { ChooseParam(i); });
    connect(w.Edit, &QToolButton::clicked, this, [this, i] { EditBits(i); });
  }
  FRowGrid->setColumnStretch(3, 1);
  FRowGrid->setRowStretch(17, 1);
  auto *scroll = new QScrollArea;
  scroll->setObjectName("ScrollBoxUstav");
  scroll->setWidget(rows);
  scroll->setWidgetResizable(true);
  main->addWidget(scroll, 3);
  LabelParam = new QLabel(QStringLiteral("Измерения"));
  main->addWidget(LabelParam);
  auto *paramRow = new QHBoxLayout;
  StringGridParam = new QTableWidget(0, 2);
  StringGridParam->setObjectName("StringGridParam");
  StringGridParam->horizontalHeader()->hide();
  StringGridParam->verticalHeader()->hide();
  StringGridParam->horizontalHeader()->setStretchLastSection(true);
  StringGridParam->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGridParam->setMaximumHeight(90);
  paramRow->addWidget(StringGridParam, 1);
  auto *paramButtons = new QVBoxLayout;
  SpeedButtonPlus = new QToolButton;
  SpeedButtonPlus->setIcon(Glyph(true));
  SpeedButtonMinus = new QToolButton;
  SpeedButtonMinus->setText(QStringLiteral("-"));
  paramButtons->addWidget(SpeedButtonPlus);
  paramButtons->addWidget(SpeedButtonMinus);
  paramButtons->addStretch();
  paramRow->addLayout(paramButtons);
  main->addLayout(paramRow);
  connect(SpeedButtonMinus, &QToolButton::clicked, this, &TFunctionEditForm::SpeedButtonMinusClick);
  LabelSwitch = new QLabel(QStringLiteral("Параметры переключатели"));
  main->addWidget(LabelSwitch);
  CheckListBox = new QListWidget;
  CheckListBox->setMaximumHeight(80);
  main->addWidget(CheckListBox);

  AddDialogButtons(this, main, bbOk, bbCancel);
  connect(SpeedButtonColor, &QPushButton::clicked, this, &TFunctionEditForm::SpeedButtonColorClick);
  connect(eIpin, &QLineEdit::textChanged, this, &TFunctionEditForm::CountChanged);
  connect(eOpin, &QLineEdit::textChanged, this, &TFunctionEditForm::CountChanged);
  resize(720, 640);
  TranslateWhenShown(this);
}

void TFunctionEditForm::SetChoosers(TUstavListForm *Ustavs, TParamListForm *Params, TDDUstavBitForm *Bits) {
  FUstavs = Ustavs;
  FParams = Params;
  FBits = Bits;
}

void TFunctionEditForm::SetElement(TElement *E) {
  FFilling = true;
  FState.Fill(*E, FDesc);
  setWindowTitle(Tr("Редактор функции %1").arg(FState.Func ? FState.Func->Caption : QString()).trimmed());
  EditId->setText(FState.Func ? FState.Func->Id : QString());
  EId->setText(QString::number(E->Id));
  eCaption->setText(FState.Caption);
  eGId->setText(FState.Gid);
  eGId->setReadOnly(FState.GidReadOnly);
  eIpin->setText(FState.InCount);
  eIpin->setReadOnly(FState.InReadOnly);
  eOpin->setText(FState.OutCount);
  eOpin->setReadOnly(FState.OutReadOnly);
  ShowColor();
  ShowPins();
  for (int i = 0; i < 16; ++i)
    ShowRow(i);
  CheckListBox->clear();
  const QStringList switches = FState.Func ? FState.Func->Switches : QStringList();
  for (int i = 0; i < switches.size(); ++i) {
    auto *item = new QListWidgetItem(switches[i], CheckListBox);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(FState.Switch >> i & 1 ? Qt::Checked : Qt::Unchecked);
  }
  CheckListBox->setVisible(!switches.isEmpty());
  LabelSwitch->setVisible(!switches.isEmpty());
  ShowParams();
  FFilling = false;
}

void TFunctionEditForm::ShowParams() {
  StringGridParam->setRowCount(int(FState.ParamNames.size()));
  for (int i = 0; i < FState.ParamNames.size(); ++i) {
    StringGridParam->setItem(i, 0, new QTableWidgetItem(FState.ParamNames[i]));
    StringGridParam->setItem(i, 1, new QTableWidgetItem(FState.ParamValues[i]));
  }
  const bool any = !FState.ParamNames.isEmpty();
  for (QWidget *w : {static_cast<QWidget *>(StringGridParam), static_cast<QWidget *>(LabelParam),
                     static_cast<QWidget *>(SpeedButtonPlus), static_cast<QWidget *>(SpeedButtonMinus)})
    w->setVisible(any);
}

void TFunctionEditForm::SpeedButtonMinusClick() {
  FState.RemoveParamRow();
  ShowParams();
}

bool OpenColorDialog(uint32_t &Color) {
  const QColor c = QColorDialog::getColor(QColor(Color & 0xFF, (Color >> 8) & 0xFF, (Color >> 16) & 0xFF));
  if (!c.isValid())
    return false;
  Color = uint32_t(c.red()) | uint32_t(c.green()) << 8 | uint32_t(c.blue()) << 16;
  return true;
}

void TFunctionEditForm::ShowColor() {
  const uint32_t c = FState.PenColor;
  QPalette pal = PanelColor->palette();
  pal.setColor(QPalette::Window, QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
  PanelColor->setPalette(pal);
}

void TFunctionEditForm::SpeedButtonColorClick() {
  uint32_t c = FState.PenColor;
  if (FColorOpener && FColorOpener(c)) {
    FState.PenColor = c;
    ShowColor();
  }
}

void TFunctionEditForm::ShowPins() {
  StringGrid->setRowCount(int(FState.Inputs.size() + FState.Outputs.size()));
  int row = 0;
  for (const QList<TFunctionPinRow> *rows : {&FState.Inputs, &FState.Outputs})
    for (const TFunctionPinRow &r : *rows) {
      const QStringList cells = {r.Title, r.Inverted ? "1" : "0", r.Edge, r.Event, r.Name};
      for (int c = 0; c < 5; ++c)
        StringGrid->setItem(row, c, new QTableWidgetItem(cells[c]));
      ++row;
    }
}

void TFunctionEditForm::ReadPins() {
  int row = 0;
  for (QList<TFunctionPinRow> *rows : {&FState.Inputs, &FState.Outputs})
    for (TFunctionPinRow &r : *rows) {
      r.Inverted = StringGrid->item(row, 1)->text() == "1";
      r.Edge = StringGrid->item(row, 2)->text();
      r.Event = StringGrid->item(row, 3)->text();
      r.Name = StringGrid->item(row, 4)->text();
      ++row;
    }
}

void TFunctionEditForm::ShowRow(int Row) {
  TRowWidgets &w = UstavRows[size_t(Row)];
  const TFunctionRefRow &r = FState.Rows[size_t(Row)];
  const bool named = FState.Func && Row < FState.Func->Ustavs.size();
  const bool inUse = FState.RowInUse(Row);
  for (QWidget *x : {static_cast<QWidget *>(w.ChooseUstav), static_cast<QWidget *>(w.ChooseParam),
                     static_cast<QWidget *>(w.Edit), static_cast<QWidget *>(w.Name)}) {
    x->setVisible(named);
    x->setEnabled(inUse);
  }
  w.Edit->setEnabled(inUse && r.Ustav && r.Ustav->RecordType == 53);
  QString name = named ? FState.Func->Ustavs[Row] : QStringLiteral("---");
  if (r.Ustav)
    name += QStringLiteral(": ") + r.Ustav->String;
  else if (r.Param)
    name += QStringLiteral(": ") + r.Param->String;
  w.Name->setText(name);
  for (QWidget *&e : w.Editors) {
    delete e;
    e = nullptr;
  }
  const int groups = r.Ustav ? 2 : r.Param ? 1 : 0;
  for (int g = 0; g < groups; ++g) {
    QStringList items;
    if (r.Ustav && r.Ustav->Kind == TDDUstav::ukEnum && r.Ustav->RecordType == 49)
      r.Ustav->GetEnum().Strings.FillStrings(items);
    else if (r.Param && r.Param->Kind == TDDParam::pkEnum)
      r.Param->GetEnum().Strings.FillStrings(items);
    if (!items.isEmpty() || (r.Ustav && r.Ustav->RecordType == 49)) {
      auto *c = new QComboBox;
      c->addItems(items);
      c->setFixedWidth(128);
      c->setCurrentIndex(r.Values[g].toInt());
      w.Editors[g] = c;
    } else {
      w.Editors[g] = new QLineEdit(r.Values[g]);
    }
    FRowGrid->addWidget(w.Editors[g], Row + 1, 4 + g);
  }
}

TFunctionEditState TFunctionEditForm::State() {
  ReadPins();
  FState.Caption = eCaption->text();
  FState.Gid = eGId->text();
  FState.InCount = eIpin->text();
  FState.OutCount = eOpin->text();
  for (int i = 0; i < 16; ++i)
    for (int g = 0; g < 2; ++g) {
      QWidget *e = UstavRows[size_t(i)].Editors[g];
      if (auto *c = qobject_cast<QComboBox *>(e))
        FState.Rows[size_t(i)].Values[g] = QString::number(c->currentIndex());
      else if (auto *l = qobject_cast<QLineEdit *>(e))
        FState.Rows[size_t(i)].Values[g] = l->text();
    }
  FState.LimitCheck = AppIni().ReadBool(QStringLiteral("ustav"), QStringLiteral("limitCheck"), true);
  FState.Switch = 0;
  for (int i = 0; i < CheckListBox->count(); ++i)
    if (CheckListBox->item(i)->checkState() == Qt::Checked)
      FState.Switch |= 1 << i;
  return FState;
}

void TFunctionEditForm::Apply() {
  State();
  FState.Apply(FDesc);
}

void TFunctionEditForm::done(int Result) {
  if (Result == Accepted) {
    try {
      State().Check();
    } catch (const EKvError &e) {
      ShowLogicError(e.Text());
      return;
    }
  }
  QDialog::done(Result);
}

void TFunctionEditForm::CountChanged() {
  if (FFilling)
    return;
  ReadPins();
  FState.SetInputCount(eIpin->text());
  FState.SetOutputCount(eOpin->text());
  ShowPins();
  for (int i = 0; i < 16; ++i)
    ShowRow(i);
}

void TFunctionEditForm::ChooseUstav(int Row) {
  if (!FUstavs || !FDesc || !FState.Element)
    return;
  State();
  FUstavs->SetDescriptor(*FDesc);
  if (FState.Element->Module)
    FUstavs->List.MarkUsed(*FState.Element->Module);
  FUstavs->ShowList();
  // The chooser runs an event loop: this dialog may have gone with its editor.
  const QPointer<TFunctionEditForm> self(this);
  if (FUstavs->exec() != QDialog::Accepted || !self)
    return;
  if (auto *u = static_cast<TDDUstav *>(FUstavs->Selected())) {
    try {
      FState.ChooseUstav(Row, u);
    } catch (const EKvError &e) {
      ShowLogicError(e.Text());
    }
    for (int i = 0; i < 16; ++i)
      ShowRow(i);
  }
}

void TFunctionEditForm::ChooseParam(int Row) {
  if (!FParams || !FDesc)
    return;
  State();
  FParams->SetDescriptor(*FDesc);
  const QPointer<TFunctionEditForm> self(this);
  if (FParams->exec() != QDialog::Accepted || !self)
    return;
  if (auto *p = static_cast<TDDParam *>(FParams->Selected())) {
    FState.ChooseParam(Row, p);
    ShowRow(Row);
  }
}

void TFunctionEditForm::EditBits(int Row) {
  TDDUstav *u = FState.Rows[size_t(Row)].Ustav;
  if (!FBits || !FDesc || !u || u->RecordType != 53)
    return;
  State();
  FBits->SetUstav(*u, *FDesc);
  const QPointer<TFunctionEditForm> self(this);
  if (FBits->exec() != QDialog::Accepted || !self)
    return;
  FBits->Apply(*u, *FDesc);
  FState.Rows[size_t(Row)].Values = {IntToBinStr(u->GetValue(0), 16), IntToBinStr(u->GetValue(1), 16)};
  ShowRow(Row);
}
