#include "uControls.h"

#include "uDescriptorXml.h"
#include "uErrors.h"
#include "uMessageSink.h"
#include "uMultiLingual.h"
#include "uNumberFormat.h"
#include "uSimpleDeviceDescriptor.h"
#include "uTextCodec.h"
#include "uUstavConversion.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMetaEnum>
#include <QMetaProperty>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>
#include <map>

namespace {

// Default captions and the property editor's choices speak the interface's
// language; what the user types and the descriptor's names stay as they are.
QString Tr(const char *Utf8) { return MultiLingual().Translate(QString::fromUtf8(Utf8)); }
// A control's own caption as a page translated after loading shows it.
QString Tr(const QString &Own) { return MultiLingual().Translate(Own); }

// The text at Path below the descriptor's root, Default when none.
QString DescText(TSimpleDeviceDescriptor *D, const QString &Path, const QString &Default) {
  return D->Root->GetStrNodeDef(Path, Default);
}

int DescInt(const IXXMLNode &Node, const QString &Path, int Default = 0) {
  return Node->GetIntNodeDef(Path, Default);
}

void SetBackground(QWidget *W, int Color, QPalette::ColorRole Role) {
  QPalette p = W->palette();
  p.setColor(Role, ColorOf(Color));
  W->setPalette(p);
  if (Role == QPalette::Window)
    W->setAutoFillBackground(true);
}

// The control counter: 1 after start-up, one on for each control made.
int GControlCounter = 1;

using TFactory = std::function<QWidget *(QWidget *)>;
const std::map<QString, TFactory> &ControlClasses() {
  static const std::map<QString, TFactory> classes = [] {
    std::map<QString, TFactory> m;
    m["TBitregGroupBox"] = [](QWidget *P) { return new TBitregGroupBox(P); };
    m["TMeasureLabeledEdit"] = [](QWidget *P) { return new TMeasureLabeledEdit(P); };
    m["TParamLabeledEdit"] = [](QWidget *P) { return new TParamLabeledEdit(P); };
    m["TUstavPanel"] = [](QWidget *P) { return new TUstavPanel(P); };
    m["TGroupBoxA"] = [](QWidget *P) { return new TGroupBoxA(P); };
    m["TLabelA"] = [](QWidget *P) { return new TLabelA(P); };
    m["TDateTimeEdit"] = [](QWidget *P) { return new TDateTimeEdit(P); };
    m["TDateTimeLabeledEdit"] = [](QWidget *P) { return new TDateTimeLabeledEdit(P); };
    m["TEventView"] = [](QWidget *P) { return new TEventView(P); };
    m["TParamEnum"] = [](QWidget *P) { return new TParamEnum(P); };
    return m;
  }();
  return classes;
}

// Class name -> its stored properties in file order (names compare without
// regard to case). "Font" twice for the labeled date is what files hold.
const QList<QPair<QString, QStringList>> &StoredRegistry() {
  static const QList<QPair<QString, QStringList>> reg = [] {
    const char *const table[][2] = {
        {"TBitregGroupBox", "Left,Top,Width,Height,mreg,onColor,offColor,ukColor,ColCount,RowHeight,Font,Caption,BitList"},
        {"TMeasureLabeledEdit", "Left,Top,Width,Height,mreg,LabelPosition,LabelSpacing,Font,Color,EditLabelCaption"},
        {"TParamLabeledEdit", "Left,Top,Width,Height,mreg,LabelPosition,LabelSpacing,Font,Color,EditLabel"},
        {"TUstavPanel", "Left,Top,Width,Height,level,idx,bit,LabelCaption,LabelPosition,LabelSpacing,Font,Color"},
        {"TGroupBoxA", "Left,Top,Width,Height,Font,Color"},
        {"TLabelA", "Left,Top,Width,Height,Font,Color,Caption"},
        {"TFont", "Name,Color,Size,Style"},
        {"TDateTimeEdit", "Left,Top,Width,Height,Font,Color,Kind,Format"},
        {"TDateTimeLabeledEdit", "Left,Top,Width,Height,Font,Color,Kind,Format,LabelPosition,LabelSpacing,Font,EditLabel"},
        {"TBitList", "bitmap"},
        {"TEdit", "Text,Color"},
        {"TEventView", "Left,Top,Width,Height,Font,Color,caption1,caption2,width1,width2,maxcount,DateTimeFormat,level"},
        {"TParamEnum", "Left,Top,Width,Height,mreg,LabelCaption,LabelPosition,LabelSpacing,Font,Color"},
    };
    QList<QPair<QString, QStringList>> r;
    for (const auto &row : table)
      r.append({QString::fromLatin1(row[0]), QString::fromLatin1(row[1]).split(',')});
    return r;
  }();
  return reg;
}

const QStringList *FindStored(const QString &ClassName) {
  for (const auto &e : StoredRegistry())
    if (e.first.compare(ClassName, Qt::CaseInsensitive) == 0)
      return &e.second;
  return nullptr;
}

bool IsGeometryName(const QString &Name) {
  for (const char *g : {"Left", "Top", "Width", "Height"})
    if (Name.compare(QLatin1String(g), Qt::CaseInsensitive) == 0)
      return true;
  return false;
}

// An exact name first; otherwise the most derived class's property whose name
// differs in case only (so "Font" is ours, not the widget's "font").
QMetaProperty FindProperty(const QObject *Object, const QString &Name) {
  const QMetaObject *mo = Object->metaObject();
  if (const int exact = mo->indexOfProperty(Name.toLatin1().constData()); exact >= 0)
    return mo->property(exact);
  for (int i = mo->propertyCount() - 1; i >= 0; --i) {
    const QMetaProperty p = mo->property(i);
    if (Name.compare(QLatin1String(p.name()), Qt::CaseInsensitive) == 0)
      return p;
  }
  return QMetaProperty();
}

// The class a class-typed property holds ("TFont" for "TFont*").
QString PropertyClassName(const QMetaProperty &P) {
  QString t = QString::fromLatin1(P.typeName());
  t.remove('*');
  return t.trimmed();
}

bool IsObjectProperty(const QMetaProperty &P) { return P.metaType().flags() & QMetaType::PointerToQObject; }

} // namespace

QColor ColorOf(int Raw) {
  if (Raw < 0) {
    // System colours: the index in the low byte picks a palette role.
    const QPalette pal = QApplication::palette();
    switch (Raw & 0xFF) {
    case 5: return pal.color(QPalette::Base);
    case 8: return pal.color(QPalette::Text);
    case 15: return pal.color(QPalette::Button);
    default: return pal.color(QPalette::Window);
    }
  }
  return QColor(Raw & 0xFF, (Raw >> 8) & 0xFF, (Raw >> 16) & 0xFF);
}

// ---- TFont

TFont::TFont(QWidget *Owner) : QObject(Owner), FOwner(Owner) {}

void TFont::SetName(const QString &V) { FName = V, Changed(); }
void TFont::SetColor(int V) { FColor = V, Changed(); }
void TFont::SetSize(int V) { FSize = V, Changed(); }
void TFont::SetStyle(kvc::TFontStyles V) { FStyle = V, Changed(); }

void TFont::Assign(const TFont &Source) {
  FName = Source.FName, FColor = Source.FColor, FSize = Source.FSize, FStyle = Source.FStyle;
  Changed();
}

void TFont::ApplyTo(QWidget *W) const {
  QFont f(FName);
  f.setPointSize(FSize > 0 ? FSize : 8);
  f.setBold(FStyle & kvc::fsBold);
  f.setItalic(FStyle & kvc::fsItalic);
  f.setUnderline(FStyle & kvc::fsUnderline);
  f.setStrikeOut(FStyle & kvc::fsStrikeOut);
  W->setFont(f);
  QPalette p = W->palette();
  p.setColor(QPalette::WindowText, ColorOf(FColor));
  p.setColor(QPalette::Text, ColorOf(FColor));
  W->setPalette(p);
}

void TFont::Changed() {
  if (FOwner)
    ApplyTo(FOwner);
}

// ---- TBit, TShape, TBitList

TBit::TBit(TBitregGroupBox *Owner, int Index, const QString &Name) : FOwner(Owner), FIndex(Index) {
  FCircle = new TShape(this, Owner);
  FCircle->resize(Owner->RowHeight(), Owner->RowHeight());
  FCircle->SetBrushColor(Owner->ukColor());
  FLabel = new QLabel(Name, Owner);
  FLabel->setFixedHeight(Owner->RowHeight());
  FLabel->setAlignment(Qt::AlignVCenter | Qt::AlignLeft);
  FCircle->show();
  FLabel->show();
}

TBit::~TBit() {
  delete FCircle.data();
  delete FLabel.data();
}

QString TBit::Name() const { return FLabel ? FLabel->text() : QString(); }

void TBit::SetName(const QString &V) {
  if (FLabel) {
    FLabel->setText(V);
    FLabel->adjustSize();
    FLabel->setFixedHeight(FOwner->RowHeight());
  }
}

TShape::TShape(TBit *ABit, QWidget *Parent) : QWidget(Parent), FBit(ABit) {}

void TShape::SetBrushColor(int V) {
  if (FBrush != V) {
    FBrush = V;
    update();
  }
}

void TShape::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::black);
  p.setBrush(ColorOf(FBrush));
  p.drawEllipse(rect().adjusted(0, 0, -1, -1));
}

void TShape::mousePressEvent(QMouseEvent *E) {
  TBitregGroupBox *g = FBit->Owner();
  if (g->bitMouseDown && E->button() == Qt::LeftButton)
    g->bitMouseDown(this);
  else
    QWidget::mousePressEvent(E);
}

TBitList::TBitList(TBitregGroupBox *Owner) : QObject(Owner), FOwner(Owner) { setObjectName("BitList"); }

TBitList::~TBitList() = default;

QString TBitList::bitmap() const {
  if (FItems.empty())
    return FBitmap;
  QList<bool> shown;
  for (const auto &b : FItems)
    shown.append(b->Shown);
  return BitmapOf(shown);
}

void TBitList::setBitmap(const QString &V) {
  for (int k = 0; k < Count() && k < V.size(); ++k)
    FItems[size_t(k)]->Shown = V[k] == '1';
  FBitmap = V;
  FOwner->LayoutBits();
}

TBit *TBitList::Add(int Index, const QString &Name) {
  FItems.push_back(std::make_unique<TBit>(FOwner, Index, Name));
  return FItems.back().get();
}

void TBitList::Clear() { FItems.clear(); }

void TBitList::Assign(const TBitList &Source) {
  Clear();
  for (const auto &b : Source.FItems)
    Add(b->Index(), b->Name())->Shown = b->Shown;
  FBitmap = Source.FBitmap;
  FOwner->LayoutBits();
}

// ---- TBitregGroupBox

TBitregGroupBox::TBitregGroupBox(QWidget *Parent)
    : QGroupBox(Parent), FBitList(new TBitList(this)), FFont(new TFont(this)) {
  FFont->ApplyTo(this);
}

void TBitregGroupBox::SetColCount(int V) {
  FColCount = V;
  LayoutBits();
}

void TBitregGroupBox::SetRowHeight(int V) {
  FRowHeight = V;
  for (int i = 0; i < FBitList->Count(); ++i) {
    TBit *b = FBitList->Item(i);
    b->Circle()->resize(V, V);
    b->Label()->setFixedHeight(V);
  }
  LayoutBits();
}

void TBitregGroupBox::SetUkColor(int V) {
  FUkColor = V;
  for (int i = 0; i < FBitList->Count(); ++i)
    FBitList->Item(i)->Circle()->SetBrushColor(V);
}

int TBitregGroupBox::wordCount() const {
  int top = 0;
  for (int i = 0; i < FBitList->Count(); ++i)
    top = std::max(top, FBitList->Item(i)->Index() + 1);
  return (top + 15) / 16;
}

void TBitregGroupBox::SetDeviceDescriptor(TSimpleDeviceDescriptor *D) {
  FDesc = D;
  FSelector.clear();
  if (!D)
    return;
  const IXXMLNodeList items = D->Root->SelectNodes(DxPath({DX_PARAM, DX_INPUT_OUTPUT, DX_PARAM_BITREG}));
  for (int i = 0; i < items->GetCount(); ++i)
    FSelector.append({items->GetItem(i)->GetStrNodeDef(DX_CAPTION, QString()), DescInt(items->GetItem(i), DX_MREG)});
}

void TBitregGroupBox::setMreg(int V) {
  FBitList->Clear();
  const int old = FMreg;
  FMreg = V;
  if (!FDesc)
    return;
  const QString item = QString(DXQ_BITREG_BY_MREG).arg(V);
  // Nothing of a relay that does not describe the register stays: no bits,
  // no access, no press handler; the group keeps its own caption.
  FBound = FDesc->Root->SelectSingleNode(item) != nullptr;
  FMacc = 0, FRt = 0;
  setEnabled(FBound);
  if (!FBound) {
    bitMouseDown = nullptr;
    if (V != old)
      setTitle(QStringLiteral("***"));
    else
      setTitle(Tr(FOwnCaption));
    FBitList->setBitmap(FBitList->Remembered());
    return;
  }
  // A register the user picks brings its caption, which is the group's own
  // from then on; binding again to the same register keeps the own one.
  if (V != old)
    FOwnCaption = DescText(FDesc, item + u'/' + DX_CAPTION, QStringLiteral("***"));
  setTitle(Tr(FOwnCaption));
  FMacc = CheckedCast<uint8_t>(FDesc->Root->GetIntNodeDef(item + u'/' + DX_MODBUS_ACC, 0));
  FRt = CheckedCast<uint8_t>(FDesc->Root->GetIntNodeDef(item + u'/' + DX_RECORD_TYPE, 0));
  for (const TBitName &b : BitNamesOf(FDesc->Root, V))
    FBitList->Add(b.Index, b.Name);
  FBitList->setBitmap(FBitList->Remembered());
}

void TBitregGroupBox::setValue(std::span<const uint16_t> Values, int) {
  for (int i = 0; i < FBitList->Count(); ++i) {
    TBit *b = FBitList->Item(i);
    const size_t w = size_t(b->Index() / 16);
    if (w >= Values.size())
      continue;
    const bool set = (Values[w] >> (b->Index() % 16)) & 1;
    b->Circle()->SetBrushColor(set ? FOnColor : FOffColor);
  }
}

void TBitregGroupBox::LayoutBits() {
  QList<bool> shown;
  for (int i = 0; i < FBitList->Count(); ++i)
    shown.append(FBitList->Item(i)->Shown);
  const QRect client = contentsRect();
  const QList<TBitPlace> places = ::LayoutBits(shown, client.width(), client.height(), FColCount, FRowHeight, FRowHeight);
  if (places.isEmpty())
    return;
  for (int i = 0; i < FBitList->Count(); ++i) {
    TBit *b = FBitList->Item(i);
    const TBitPlace &p = places[i];
    b->Circle()->setVisible(p.Visible);
    b->Label()->setVisible(p.Visible);
    if (p.Visible) {
      b->Circle()->move(p.X, p.Y);
      b->Label()->adjustSize();
      b->Label()->setFixedHeight(FRowHeight);
      b->Label()->move(p.LabelX, p.Y);
    }
  }
}

void TBitregGroupBox::resizeEvent(QResizeEvent *E) {
  QGroupBox::resizeEvent(E);
  LayoutBits();
}

void TBitregGroupBox::Assign(const QWidget *Source) {
  const auto *s = qobject_cast<const TBitregGroupBox *>(Source);
  if (!s)
    return;
  setGeometry(s->geometry());
  setTitle(s->title());
  FOwnCaption = s->FOwnCaption, FBound = s->FBound;
  setEnabled(s->isEnabled());
  FColCount = s->FColCount, FRowHeight = s->FRowHeight;
  FOffColor = s->FOffColor, FOnColor = s->FOnColor, FUkColor = s->FUkColor;
  FFont->Assign(*s->FFont);
  FDesc = s->FDesc, FMreg = s->FMreg, FMacc = s->FMacc, FRt = s->FRt;
  FSelector = s->FSelector;
  FBitList->Assign(*s->FBitList);
}

// ---- TLabeledEdit

TLabeledEdit::TLabeledEdit(QWidget *Parent) : QLineEdit(Parent), FFont(new TFont(this)) {
  FLabel = new QLabel(Parent);
  FLabel->setObjectName("SubLabel");
  FFont->ApplyTo(this);
  SetColor(FColor);
  PlaceLabel();
}

TLabeledEdit::~TLabeledEdit() { delete FLabel.data(); }

void TLabeledEdit::SetLabelPosition(kvc::TLabelPosition V) {
  FLabelPosition = V;
  PlaceLabel();
}

void TLabeledEdit::SetLabelSpacing(int V) {
  FLabelSpacing = V;
  PlaceLabel();
}

void TLabeledEdit::SetColor(int V) {
  FColor = V;
  SetBackground(this, V, QPalette::Base);
}

void TLabeledEdit::SetLabelText(const QString &V) {
  FLabelSource = V;
  FLabel->setText(V);
  PlaceLabel();
}

TSelector TLabeledEdit::PosSelector() {
  return {{Tr("Сверху"), kvc::lpAbove}, {Tr("Снизу"), kvc::lpBelow}, {Tr("Слева"), kvc::lpLeft},
          {Tr("Справа"), kvc::lpRight}};
}

void TLabeledEdit::AssignLabeled(const TLabeledEdit &Source) {
  setGeometry(Source.geometry());
  setText(Source.text());
  FFont->Assign(*Source.FFont);
  SetColor(Source.FColor);
  FLabelPosition = Source.FLabelPosition;
  FLabelSpacing = Source.FLabelSpacing;
  FOwnCaption = Source.FOwnCaption;
  SetLabelText(Source.FLabel->text());
  FLabelSource = Source.FLabelSource;
  setEnabled(Source.isEnabled());
}

bool TLabeledEdit::event(QEvent *E) {
  // The label lives beside the edit: it follows the edit to a new parent and
  // shows and hides with it.
  if (FLabel) {
    if (E->type() == QEvent::ParentChange) {
      FLabel->setParent(parentWidget());
      FLabel->setVisible(isVisible());
      PlaceLabel();
    } else if (E->type() == QEvent::Show || E->type() == QEvent::Hide) {
      FLabel->setVisible(E->type() == QEvent::Show);
    }
  }
  return QLineEdit::event(E);
}

void TLabeledEdit::moveEvent(QMoveEvent *E) {
  QLineEdit::moveEvent(E);
  PlaceLabel();
}

void TLabeledEdit::resizeEvent(QResizeEvent *E) {
  QLineEdit::resizeEvent(E);
  PlaceLabel();
}

void TLabeledEdit::PlaceLabel() {
  if (!FLabel)
    return;
  FLabel->setFont(font());
  FLabel->setPalette(palette());
  FLabel->adjustSize();
  const QSize l = FLabel->size();
  const QRect r = geometry();
  switch (FLabelPosition) {
  case kvc::lpAbove: FLabel->move(r.left(), r.top() - l.height() - FLabelSpacing); break;
  case kvc::lpBelow: FLabel->move(r.left(), r.bottom() + 1 + FLabelSpacing); break;
  case kvc::lpLeft: FLabel->move(r.left() - l.width() - FLabelSpacing, r.top() + (r.height() - l.height()) / 2); break;
  case kvc::lpRight: FLabel->move(r.right() + 1 + FLabelSpacing, r.top() + (r.height() - l.height()) / 2); break;
  }
}

// ---- TMeasureLabeledEdit, TParamLabeledEdit, TDateTimeLabeledEdit

TMeasureLabeledEdit::TMeasureLabeledEdit(QWidget *Parent) : TLabeledEdit(Parent) { setReadOnly(true); }

void TMeasureLabeledEdit::SetDeviceDescriptor(TSimpleDeviceDescriptor *D) {
  FDesc = D;
  FSelector.clear();
  if (!D)
    return;
  const IXXMLNodeList items = D->Root->SelectNodes(DXQ_MEASURE_READABLE);
  for (int i = 0; i < items->GetCount(); ++i)
    FSelector.append({items->GetItem(i)->GetStrNodeDef(DX_STRING, QString()), DescInt(items->GetItem(i), DX_MREG)});
}

void TMeasureLabeledEdit::setMreg(int V) {
  FMreg = V;
  if (!FDesc)
    return;
  const IXXMLNode item = FDesc->Root->SelectSingleNode(QString(DXQ_MEASURE_ANY_BY_MREG).arg(V));
  // A relay that does not describe the measure lends it nothing: no access
  // (not polled), no scaling, its own caption.
  FBound = item != nullptr;
  FMacc = FBound ? CheckedCast<uint8_t>(DescInt(item, DX_MODBUS_ACC)) : 0;
  FScale = FBound ? MeasureScaleOf(item) : TMeasureScale();
  SetLabelText(FBound ? DescText(FDesc, QString(DXQ_MEASURE_NAME_BY_MREG).arg(V), QStringLiteral("***"))
                      : Tr(OwnCaption()));
  if (!FBound)
    clear();
  setEnabled(FBound);
}

void TMeasureLabeledEdit::setValue(std::span<const uint16_t> Values, int Flags) {
  // Another relay's register under this control's name is not shown.
  if (!Values.empty() && (FBound || !FDesc))
    setText(MeasureText(Values[0], FScale, Flags & 1));
}

void TMeasureLabeledEdit::Assign(const QWidget *Source) {
  const auto *s = qobject_cast<const TMeasureLabeledEdit *>(Source);
  if (!s)
    return;
  AssignLabeled(*s);
  FScale = s->FScale;
  FDesc = s->FDesc, FMreg = s->FMreg, FMacc = s->FMacc, FBound = s->FBound;
  FSelector = s->FSelector;
}

TParamLabeledEdit::TParamLabeledEdit(QWidget *Parent) : TLabeledEdit(Parent) {}

void TParamLabeledEdit::setMreg(int V) {
  FMreg = V;
  if (!FDesc)
    return;
  const IXXMLNode item = FDesc->Root->SelectSingleNode(QString(DXQ_PARAM_ANY_BY_MREG).arg(V));
  FBound = item != nullptr;
  FMacc = FBound ? CheckedCast<uint8_t>(DescInt(item, DX_MODBUS_ACC)) : 0;
  SetLabelText(FBound ? DescText(FDesc, QString(DXQ_PARAM_NUM_NAME_BY_MREG).arg(V), QStringLiteral("***"))
                      : Tr(OwnCaption()));
  if (!FBound)
    clear();
  setEnabled(FBound);
}

void TParamLabeledEdit::setValue(std::span<const uint16_t> Values, int) {
  if (!Values.empty() && (FBound || !FDesc))
    setText(Values[0] == 0xFFFF ? QString() : FormatValue(Values[0]));
}

void TParamLabeledEdit::Assign(const QWidget *Source) {
  const auto *s = qobject_cast<const TParamLabeledEdit *>(Source);
  if (!s)
    return;
  AssignLabeled(*s);
  FDesc = s->FDesc, FMreg = s->FMreg, FMacc = s->FMacc, FBound = s->FBound;
}

TDateTimeLabeledEdit::TDateTimeLabeledEdit(QWidget *Parent) : TLabeledEdit(Parent) {
  setReadOnly(true);
  SetColor(clBtnFace);
}

void TDateTimeLabeledEdit::setValue(std::span<const uint16_t> Values) {
  if (!Values.empty())
    setText(FormatDateTime(FFormat, Values[0]));
}

void TDateTimeLabeledEdit::Assign(const QWidget *Source) {
  const auto *s = qobject_cast<const TDateTimeLabeledEdit *>(Source);
  if (!s)
    return;
  AssignLabeled(*s);
  FFormat = s->FFormat, FKind = s->FKind, FDesc = s->FDesc;
}

// ---- TDateTimeEdit

TDateTimeEdit::TDateTimeEdit(QWidget *Parent) : QLineEdit(Parent), FFont(new TFont(this)) {
  setReadOnly(true);
  FFont->ApplyTo(this);
  SetColor(FColor);
}

TSelector TDateTimeEdit::KindSelector() {
  return {{Tr("Дата ядра"), kvc::dtCore}, {Tr("Дата дескриптора"), kvc::dtDesc}, {Tr("Текущее время"), kvc::dtCurrent}};
}

TSelector TDateTimeEdit::FormatSelector() {
  return {{"yyyy-mm-dd", 0}, {"dd mmm yyyy", 1}, {"dd mmmm yy", 2}, {"yyyy.mm.dd hh:nn:ss", 3}};
}

void TDateTimeEdit::SetFormat(const QString &V) {
  FFormat = V;
  setValue(FValue);
}

void TDateTimeEdit::SetColor(int V) {
  FColor = V;
  SetBackground(this, V, QPalette::Base);
}

void TDateTimeEdit::setValue(TDateTime Value) {
  FValue = Value;
  setText(Value == 0 ? QString() : FormatDateTime(FFormat, Value));
}

void TDateTimeEdit::Assign(const QWidget *Source) {
  const auto *s = qobject_cast<const TDateTimeEdit *>(Source);
  if (!s)
    return;
  setGeometry(s->geometry());
  setText(s->text());
  FFormat = s->FFormat, FKind = s->FKind, FDesc = s->FDesc, FValue = s->FValue;
  FFont->Assign(*s->FFont);
  SetColor(s->FColor);
}

// ---- TCaptionedPanel, TParamEnum

TCaptionedPanel::TCaptionedPanel(QWidget *Parent)
    : QWidget(Parent), FLabel(new QLabel(this)), FFont(new TFont(this)) {
  FLabel->move(0, 0);
  FFont->ApplyTo(this);
  SetColor(FColor);
}

void TCaptionedPanel::SetLabelCaption(const QString &V) {
  FOwnCaption = V;
  ShowCaption(V);
}

void TCaptionedPanel::ShowCaption(const QString &V) {
  FShownSource = V;
  FLabel->setText(V);
  FLabel->adjustSize();
}

void TCaptionedPanel::SetColor(int V) {
  FColor = V;
  SetBackground(this, V, QPalette::Window);
}

void TCaptionedPanel::AssignPanel(const TCaptionedPanel &Source) {
  setGeometry(Source.geometry());
  FFont->Assign(*Source.FFont);
  SetColor(Source.FColor);
  FLabelPosition = Source.FLabelPosition;
  FLabelSpacing = Source.FLabelSpacing;
  FOwnCaption = Source.FOwnCaption;
  FBound = Source.FBound;
  ShowCaption(Source.FLabel->text());
  FShownSource = Source.FShownSource;
}

TParamEnum::TParamEnum(QWidget *Parent) : TCaptionedPanel(Parent), FList(new QComboBox(this)) {
  SetLabelCaption(Tr("Параметр"));
  // Only the user's choice writes: a programmatic index change is not activated.
  connect(FList, &QComboBox::activated, this, [this](int Index) {
    if (FOnChange)
      FOnChange(uint16_t(FMreg), int16_t(Index));
  });
  Relayout();
  resize(FList->width(), FList->y() + FList->height());
}

void TParamEnum::Relayout() {
  FList->move(0, FLabel->y() + FLabel->height() + FLabelSpacing);
  FList->resize(width() > 0 ? width() : FList->width(), FList->sizeHint().height());
}

void TParamEnum::SetLabelSpacing(int V) {
  FLabelSpacing = V;
  Relayout();
  resize(width(), FList->y() + FList->height());
}

void TParamEnum::resizeEvent(QResizeEvent *E) {
  QWidget::resizeEvent(E);
  FList->resize(width(), FList->height());
  const int h = FList->y() + FList->height();
  if (height() != h)
    resize(width(), h);
}

void TParamEnum::SetDeviceDescriptor(TSimpleDeviceDescriptor *D) {
  FDesc = D;
  FSelector.clear();
  if (!D)
    return;
  const IXXMLNodeList items = D->Root->SelectNodes(DXQ_PARAM_ENUMS_MAPPED);
  for (int i = 0; i < items->GetCount(); ++i) {
    const IXXMLNode it = items->GetItem(i);
    if (DescInt(it, DX_MODBUS_ACC) & 1)
      FSelector.append({it->GetStrNodeDef(DXQ_NAME, QString()), DescInt(it, DX_MREG)});
  }
}

void TParamEnum::setMreg(int V) {
  FMreg = V;
  if (!FDesc)
    return;
  const IXXMLNode item = FDesc->Root->SelectSingleNode(QString(DXQ_PARAM_ENUM_BY_MREG).arg(V));
  FBound = item != nullptr;
  FList->clear();
  if (!FBound) {
    // A relay without this list: no items, no access, no handler of the
    // relay before; the panel's own caption.
    FMacc = 0;
    FOnChange = nullptr;
    ShowCaption(Tr(FOwnCaption));
    setEnabled(false);
    return;
  }
  ShowCaption(item->GetStrNodeDef(DXQ_NAME, QStringLiteral("***")));
  FMacc = CheckedCast<uint8_t>(DescInt(item, DX_MODBUS_ACC));
  const IXXMLNodeList values = item->SelectNodes(DXQ_VALUE_TEXTS);
  for (int i = 0; i < values->GetCount(); ++i)
    FList->addItem(values->GetItem(i)->GetText());
  if (!(FMacc & 2))
    FOnChange = nullptr;
  setEnabled(FMacc & 2);
}

void TParamEnum::setValue(std::span<const uint16_t> Values, int) {
  if (!Values.empty() && (FBound || !FDesc))
    FList->setCurrentIndex(Values[0] < FList->count() ? Values[0] : -1);
}

void TParamEnum::Assign(const QWidget *Source) {
  const auto *s = qobject_cast<const TParamEnum *>(Source);
  if (!s)
    return;
  AssignPanel(*s);
  FDesc = s->FDesc, FMreg = s->FMreg, FMacc = s->FMacc, FSelector = s->FSelector;
  FOnChange = nullptr;
  FList->clear();
  for (int i = 0; i < s->FList->count(); ++i)
    FList->addItem(s->FList->itemText(i));
  FList->setCurrentIndex(s->FList->currentIndex());
  FList->setGeometry(s->FList->geometry());
  setEnabled(s->isEnabled());
}

// ---- TUstavPanel

TUstavPanel::TUstavPanel(QWidget *Parent)
    : TCaptionedPanel(Parent), FEdit1(new QLineEdit(this)), FEdit2(new QLineEdit(this)), FList1(new QComboBox(this)),
      FList2(new QComboBox(this)) {
  FLabelSpacing = 0;
  SetLabelCaption(Tr("Не задано"));
  FEdit1->move(0, 25), FEdit2->move(0, 50);
  FList1->move(0, 25), FList2->move(0, 50);
  FList1->hide(), FList2->hide();
  for (int g = 0; g < 2; ++g) {
    connect(List(g), &QComboBox::activated, this, [this, g](int Index) { ListChosen(g, Index); });
    connect(Edit(g), &QLineEdit::returnPressed, this, [this, g] { EnterPressed(g); });
    Edit(g)->installEventFilter(this);
  }
  resize(FEdit1->width(), FEdit2->y() + FEdit2->height());
}

TUstavPanel::~TUstavPanel() { FDestroying = true; }

bool TUstavPanel::eventFilter(QObject *Watched, QEvent *E) {
  if (E->type() == QEvent::MouseButtonPress && !FDestroying && OnPanelMouseDown)
    OnPanelMouseDown(this);
  return TCaptionedPanel::eventFilter(Watched, E);
}

void TUstavPanel::resizeEvent(QResizeEvent *E) {
  QWidget::resizeEvent(E);
  for (int g = 0; g < 2; ++g) {
    Edit(g)->resize(width(), Edit(g)->height());
    List(g)->resize(width(), List(g)->height());
  }
  const int h = FEdit2->y() + FEdit2->height();
  if (height() != h)
    resize(width(), h);
}

void TUstavPanel::SetKind(const QString &V) {
  if (V != "num" && V != "enum" && V != "bit")
    throw EKvError("invalid ustav type");
  FKind = V;
  const bool num = V == "num";
  for (int g = 0; g < 2; ++g) {
    Edit(g)->setVisible(num);
    List(g)->setVisible(!num);
  }
}

void TUstavPanel::SetDeviceDescriptor(TSimpleDeviceDescriptor *D) {
  FDesc = D;
  FItems.reset();
  FLevelSelector.clear();
  FBitSelector.clear();
  FSelector.clear();
  if (!D)
    return;
  FItems = D->Root->SelectNodes(DXQ_USTAV_MAPPED);
  FLevelSelector.append({Tr("Все"), 0});
  const IXXMLNodeList levels = D->Root->SelectNodes(DxPath({DX_USTAV, DX_USTAV_LEVEL, DX_STRING}));
  for (int i = 0; i < levels->GetCount(); ++i)
    FLevelSelector.append({levels->GetItem(i)->GetStrNodeDef(DX_VALUE, QString()), DescInt(levels->GetItem(i), DX_IDER)});
  RebuildSelector();
}

void TUstavPanel::RebuildSelector() {
  FSelector.clear();
  if (!FItems)
    return;
  for (int i = 0; i < FItems->GetCount(); ++i) {
    const IXXMLNode it = FItems->GetItem(i);
    if ((DescInt(it, DX_MODBUS_ACC) & 1) && (FLevel == 0 || DescInt(it, DX_BYTE_LEVEL_MASK) == FLevel))
      FSelector.append({it->GetStrNodeDef(DXQ_NAME, QString()), i});
  }
}

void TUstavPanel::setLevel(int V) {
  FLevel = V;
  RebuildSelector();
}

IXXMLNode TUstavPanel::Item() const {
  if (!FItems || FIdx < 0 || FIdx >= FItems->GetCount())
    return nullptr;
  return FItems->GetItem(FIdx);
}

void TUstavPanel::UpdateCaption() {
  const IXXMLNode item = Item();
  if (!item)
    return;
  QString caption = item->GetStrNodeDef(DXQ_NAME, QStringLiteral("NF"));
  if (DescInt(item, DX_RECORD_TYPE) == RT_USTAV_ENUM2)
    caption += " - " + item->GetStrNodeDef(QString(DXQ_VALUE_TEXT).arg(FBit), QStringLiteral("NF"));
  ShowCaption(caption);
}

void TUstavPanel::setIdx(int V) {
  FIdx = V;
  Bind();
}

void TUstavPanel::setBit(int V) {
  FBit = V;
  Bind();
}

void TUstavPanel::Bind() {
  const IXXMLNode item = Item();
  const int rt = item ? DescInt(item, DX_RECORD_TYPE) : 0;
  // A bit set's names stay offered while no bit is chosen: the designer picks it from them.
  FBitSelector.clear();
  if (item && rt == RT_USTAV_ENUM2) {
    const IXXMLNodeList bits = item->SelectNodes(DXQ_VALUE_STRINGS);
    for (int i = 0; i < bits->GetCount(); ++i)
      FBitSelector.append({bits->GetItem(i)->GetStrNodeDef(DX_VALUE, QString()), DescInt(bits->GetItem(i), DX_IDER)});
  }
  FBound = item != nullptr && (rt != RT_USTAV_ENUM2 || UstavBitChosen(FBit));
  if (!FDesc)
    return;
  if (!FBound) {
    // What a panel made afresh shows: its own caption, empty edits, no
    // lists; nothing of a setpoint another relay had at this index, and no
    // word of a bit set for which no bit is chosen.
    FMacc = 0;
    FOnChange = nullptr;
    ShowCaption(Tr(FOwnCaption));
    SetKind(QStringLiteral("num"));
    for (int g = 0; g < 2; ++g) {
      Edit(g)->clear();
      List(g)->clear();
    }
    setEnabled(false);
    return;
  }
  FMacc = CheckedCast<uint8_t>(DescInt(item, DX_MODBUS_ACC));
  // Described again after a relay that was not: the page decides whether
  // the panel edits.
  setEnabled(true);
  UpdateCaption();
  SetKind(rt == RT_USTAV_ENUM ? "enum" : rt == RT_USTAV_ENUM2 ? "bit" : "num");
  QStringList items;
  if (FKind == "enum") {
    const IXXMLNodeList values = item->SelectNodes(DXQ_VALUE_TEXTS);
    for (int i = 0; i < values->GetCount(); ++i)
      items << values->GetItem(i)->GetText();
  } else {
    items << Tr("Нет") << Tr("Да");
  }
  for (int g = 0; g < 2; ++g) {
    // Bound again to the same items, a list keeps the value it shows; new
    // items show none until the relay's value comes, never their first.
    QStringList had;
    for (int i = 0; i < List(g)->count(); ++i)
      had << List(g)->itemText(i);
    if (had == items)
      continue;
    List(g)->clear();
    List(g)->addItems(items);
    List(g)->setCurrentIndex(-1);
  }
}

void TUstavPanel::ShowNoValue(int Group) {
  if (Group < 0 || Group > 1)
    return;
  Edit(Group)->clear();
  List(Group)->setCurrentIndex(-1);
}

int TUstavPanel::GroupReg(int Group) const { return FDesc->GetUstavGroupReg(Group) + FIdx; }

void TUstavPanel::setValue(int Group, std::span<const uint16_t> Values) {
  if (Values.empty() || Group < 0 || Group > 1 || (FDesc && !FBound))
    return;
  const uint16_t v = Values[0];
  if (FKind == "num") {
    Edit(Group)->setText(FDesc && FIdx >= 0 ? UstavRegValueText(GroupReg(Group), v) : QStringLiteral("?"));
  } else if (FKind == "enum") {
    List(Group)->setCurrentIndex(v < List(Group)->count() ? v : -1);
  } else {
    List(Group)->setCurrentIndex(FBit >= 0 && FBit < 16 ? (v >> FBit) & 1 : -1);
  }
}

void TUstavPanel::ListChosen(int Group, int Index) {
  // An unbound panel writes nothing, whatever handler it was given.
  if (!FDesc || !FBound || FIdx < 0 || !FOnChange)
    return;
  if (const std::optional<TMaskedWrite> w = UstavListWrite(FKind == "bit", FBit, Index))
    FOnChange(uint16_t(GroupReg(Group)), w->Value, w->Mask);
}

void TUstavPanel::EnterPressed(int Group) {
  if (!FDesc || !FBound || FIdx < 0 || !FOnChange)
    return;
  const int reg = GroupReg(Group);
  // A register the setpoints page knows no setpoint at writes nothing.
  try {
    const std::optional<uint16_t> v = UstavTextToRegValue(reg, Edit(Group)->text());
    if (v)
      FOnChange(uint16_t(reg), *v, 0xFFFF);
  } catch (const EKvError &e) {
    // A text that does not convert writes nothing; the user sees why.
    ShowErrorText(e.Text());
  }
}

void TUstavPanel::DisableChange(bool Value) {
  for (int g = 0; g < 2; ++g) {
    Edit(g)->setEnabled(!Value);
    List(g)->setEnabled(!Value);
  }
}

void TUstavPanel::Assign(const QWidget *Source) {
  const auto *s = qobject_cast<const TUstavPanel *>(Source);
  if (!s)
    return;
  AssignPanel(*s);
  SetDeviceDescriptor(s->FDesc);
  FKind = s->FKind, FMacc = s->FMacc, FLevel = s->FLevel, FIdx = s->FIdx, FBit = s->FBit;
  FSelector = s->FSelector, FLevelSelector = s->FLevelSelector, FBitSelector = s->FBitSelector;
  for (int g = 0; g < 2; ++g) {
    Edit(g)->setText(s->Edit(g)->text());
    Edit(g)->setVisible(!s->Edit(g)->isHidden());
    List(g)->setVisible(!s->List(g)->isHidden());
    List(g)->clear();
    for (int i = 0; i < s->List(g)->count(); ++i)
      List(g)->addItem(s->List(g)->itemText(i));
    List(g)->setCurrentIndex(s->List(g)->currentIndex());
  }
}

// ---- TLabelA, TGroupBoxA

TLabelA::TLabelA(QWidget *Parent) : QLabel(Parent), FFont(new TFont(this)) {
  SetCaption(Tr("Текст"));
  FFont->ApplyTo(this);
}

QString TLabelA::Caption() const {
  // What the translation of the interface made of the caption is the caption.
  const QString shown = text();
  return shown.compare(FCaption, Qt::CaseInsensitive) == 0 || shown == Tr(FCaption) ? FCaption : shown;
}

void TLabelA::SetColor(int V) {
  FColor = V;
  SetBackground(this, V, QPalette::Window);
}

void TLabelA::Assign(const QWidget *Source) {
  const auto *s = qobject_cast<const TLabelA *>(Source);
  if (!s)
    return;
  setGeometry(s->geometry());
  setText(s->text());
  FCaption = s->FCaption;
  FFont->Assign(*s->FFont);
  SetColor(s->FColor);
}

TGroupBoxA::TGroupBoxA(QWidget *Parent) : QGroupBox(Parent), FFont(new TFont(this)) {
  setTitle(Tr("Группа"));
  FFont->ApplyTo(this);
}

void TGroupBoxA::SetColor(int V) {
  FColor = V;
  SetBackground(this, V, QPalette::Window);
}

void TGroupBoxA::Assign(const QWidget *Source) {
  const auto *s = qobject_cast<const TGroupBoxA *>(Source);
  if (!s)
    return;
  setGeometry(s->geometry());
  setTitle(s->title());
  FFont->Assign(*s->FFont);
  SetColor(s->FColor);
}

// ---- TEventView

TEventView::TEventView(QWidget *Parent) : QTreeWidget(Parent), FFont(new TFont(this)) {
  setRootIsDecorated(false);
  setColumnCount(3);
  setHeaderLabels({Tr("Время"), Tr("Событие"), Tr("Значение")});
  FCaptions[0] = headerItem()->text(0), FCaptions[1] = headerItem()->text(1);
  setColumnWidth(0, FWidth[0]);
  setColumnWidth(1, FWidth[1]);
  FFont->ApplyTo(this);
  SetColor(FColor);
}

QString TEventView::Caption1() const { return FCaptions[0]; }
void TEventView::SetCaption1(const QString &V) { FCaptions[0] = V, headerItem()->setText(0, V); }
QString TEventView::Caption2() const { return FCaptions[1]; }
void TEventView::SetCaption2(const QString &V) { FCaptions[1] = V, headerItem()->setText(1, V); }

void TEventView::SetWidth(int Column, int V) {
  if (V < -2)
    throw EKvRange(QStringLiteral("range check error: %1").arg(V));
  FWidth[Column] = V;
  if (V < 0)
    resizeColumnToContents(Column);
  else
    setColumnWidth(Column, V);
}

void TEventView::SetColor(int V) {
  FColor = V;
  SetBackground(viewport(), V, QPalette::Base);
}

void TEventView::SetDeviceDescriptor(TSimpleDeviceDescriptor *D) {
  FDesc = D;
  FLevelSelector.clear();
  if (!D)
    return;
  FLevelSelector.append({Tr("Все"), 0});
  const IXXMLNodeList levels = D->Root->SelectNodes(DxPath({DX_EVENT, DX_EVENT_LEVEL, DX_STRING}));
  for (int i = 0; i < levels->GetCount(); ++i)
    FLevelSelector.append({levels->GetItem(i)->GetStrNodeDef(DX_VALUE, QString()), DescInt(levels->GetItem(i), DX_IDER)});
}

void TEventView::InsertEvent(const QString &Time, const QString &Text, const QString &Value) {
  insertTopLevelItem(0, new QTreeWidgetItem({Time, Text, Value}));
  while (topLevelItemCount() > std::max(FMaxCount, 0))
    delete takeTopLevelItem(topLevelItemCount() - 1);
}

void TEventView::Assign(const QWidget *Source) {
  const auto *s = qobject_cast<const TEventView *>(Source);
  if (!s)
    return;
  setGeometry(s->geometry());
  FDesc = s->FDesc, FDateTimeFormat = s->FDateTimeFormat, FMaxCount = s->FMaxCount;
  // The titles as shown (in the interface's language) and as the file holds them.
  for (int c = 0; c < 2; ++c)
    FCaptions[c] = s->FCaptions[c], headerItem()->setText(c, s->headerItem()->text(c));
  SetWidth1(s->FWidth[0]), SetWidth2(s->FWidth[1]);
  FLevelSelector = s->FLevelSelector, FLevel = s->FLevel;
}

// ---- registries

QStringList StoredProperties(const QString &ClassName) {
  const QStringList *l = FindStored(ClassName);
  return l ? *l : QStringList();
}

bool HasStoredProperties(const QString &ClassName) { return FindStored(ClassName) != nullptr; }

QStringList ControlClassNames() {
  QStringList names;
  for (const auto &c : ControlClasses())
    names << c.first;
  return names;
}

QWidget *CreateControl(QWidget *Parent, const QString &ClassName) {
  const auto it = ControlClasses().find(ClassName);
  if (it == ControlClasses().end())
    throw EKvError(QStringLiteral("Class %1 not found").arg(ClassName));
  QWidget *w = it->second(Parent);
  w->setObjectName(ClassName + QString::number(GControlCounter++));
  w->show();
  return w;
}

void RemoveAllControls(QWidget *Container) {
  for (QWidget *w : ControlsOf(Container, false))
    delete w;
}

void ForEachBit(QWidget *Container, const std::function<void(QWidget *Control)> &Proc) {
  for (QWidget *w : Container->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
    Proc(w);
}

QList<QWidget *> ControlsOf(QWidget *Container, bool Deep) {
  QList<QWidget *> out;
  for (QWidget *w : Container->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
    if (!dynamic_cast<TKvControl *>(w))
      continue;
    out.append(w);
    if (Deep)
      out.append(ControlsOf(w, true));
  }
  return out;
}

uint64_t BoundEpochOf(const QObject *Control) {
  if (const auto *circle = qobject_cast<const TShape *>(Control))
    return circle->Bit()->Owner()->BoundFor();
  const auto *c = dynamic_cast<const TKvControl *>(Control);
  return c ? c->BoundFor() : 0;
}

namespace {
void CloneControls(QWidget *Source, QWidget *Target) {
  for (QWidget *w : ControlsOf(Source, false)) {
    QWidget *copy = CreateControl(Target, QString::fromLatin1(w->metaObject()->className()));
    dynamic_cast<TKvControl *>(copy)->Assign(w);
    // Other controls build their inner widgets themselves.
    if (qobject_cast<TGroupBoxA *>(w))
      CloneControls(w, copy);
  }
}
} // namespace

void CopyControls(QWidget *Source, QWidget *Target) {
  RemoveAllControls(Target);
  CloneControls(Source, Target);
}

// ---- property access by name

bool IsPublished(const QObject *Object, const QString &Name) {
  return (IsGeometryName(Name) && Object->isWidgetType()) || FindProperty(Object, Name).isValid();
}

QVariant PropertyValue(const QObject *Object, const QString &Name) {
  if (IsGeometryName(Name) && Object->isWidgetType()) {
    const QRect r = static_cast<const QWidget *>(Object)->geometry();
    const QString n = Name.toLower();
    return n == "left" ? r.x() : n == "top" ? r.y() : n == "width" ? r.width() : r.height();
  }
  const QMetaProperty p = FindProperty(Object, Name);
  return p.isValid() ? p.read(Object) : QVariant();
}

void SetPropertyValue(QObject *Object, const QString &Name, const QVariant &Value) {
  if (IsGeometryName(Name) && Object->isWidgetType()) {
    auto *w = static_cast<QWidget *>(Object);
    QRect r = w->geometry();
    const int v = Value.toInt();
    const QString n = Name.toLower();
    if (n == "left")
      r.moveLeft(v);
    else if (n == "top")
      r.moveTop(v);
    else if (n == "width")
      r.setWidth(v);
    else
      r.setHeight(v);
    w->setGeometry(r);
    return;
  }
  const QMetaProperty p = FindProperty(Object, Name);
  if (p.isValid() && p.isWritable())
    p.write(Object, Value);
}

QString PropertyText(const QObject *Object, const QString &Name) {
  const QVariant v = PropertyValue(Object, Name);
  const QMetaProperty p = FindProperty(Object, Name);
  if (p.isValid() && p.isFlagType()) {
    QString keys = QString::fromLatin1(p.enumerator().valueToKeys(v.toInt()));
    return keys.replace('|', ',');
  }
  if (p.isValid() && p.isEnumType())
    return QString::fromLatin1(p.enumerator().valueToKey(v.toInt()));
  if (v.typeId() == QMetaType::Bool)
    return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
  return v.toString();
}

QStringList EnumIdentifiers(const QObject *Object, const QString &Name) {
  const QMetaProperty p = FindProperty(Object, Name);
  QStringList keys;
  if (p.isValid() && p.isEnumType() && !p.isFlagType())
    for (int i = 0; i < p.enumerator().keyCount(); ++i)
      keys << QString::fromLatin1(p.enumerator().key(i));
  return keys;
}

void SetPropertyText(QObject *Object, const QString &Name, const QString &Text) {
  const QMetaProperty p = FindProperty(Object, Name);
  if (p.isValid() && (p.isEnumType() || p.isFlagType())) {
    bool ok = false;
    QString keys = Text;
    keys.remove(' ');
    const int v = p.isFlagType() ? (keys.isEmpty() ? (ok = true, 0)
                                                    : p.enumerator().keysToValue(keys.replace(',', '|').toLatin1(), &ok))
                                 : p.enumerator().keyToValue(Text.trimmed().toLatin1(), &ok);
    if (!ok)
      throw EKvError(QStringLiteral("'%1' is not a valid %2 value").arg(Text, Name));
    p.write(Object, v);
    return;
  }
  const int type = IsGeometryName(Name) ? QMetaType::Int : p.isValid() ? p.typeId() : QMetaType::UnknownType;
  if (type == QMetaType::Int) {
    bool ok = false;
    const int v = Text.trimmed().toInt(&ok);
    if (!ok)
      throw EKvError(QStringLiteral("'%1' is not a valid integer value").arg(Text));
    SetPropertyValue(Object, Name, v);
  } else if (type == QMetaType::Bool) {
    const bool on = Text.trimmed().compare("True", Qt::CaseInsensitive) == 0;
    if (!on && Text.trimmed().compare("False", Qt::CaseInsensitive) != 0)
      throw EKvError(QStringLiteral("'%1' is not a valid %2 value").arg(Text, Name));
    SetPropertyValue(Object, Name, on);
  } else if (type == QMetaType::QString) {
    SetPropertyValue(Object, Name, Text);
  }
}

// ---- page file reader and writer

void ReadProperties(const QList<TPageProperty> &Values, QObject *Object, const QString &ClassName,
                    const TReportProc &Report) {
  const QStringList *names = FindStored(ClassName);
  if (!names)
    throw EKvError("unsuppoorted property for " + ClassName);
  for (const QString &name : *names) {
    if (!IsPublished(Object, name))
      continue;
    const TPageProperty *value = FindPageProperty(Values, name);
    if (!value || value->Text == "???")
      continue;
    const QMetaProperty p = FindProperty(Object, name);
    if (p.isValid() && IsObjectProperty(p)) {
      if (QObject *sub = p.read(Object).value<QObject *>())
        ReadProperties(value->Sub, sub, PropertyClassName(p), Report);
      continue;
    }
    try {
      SetPropertyText(Object, name, value->Text);
    } catch (const EKvError &e) {
      if (!Report)
        throw;
      // The value's own line: the user finds it in the file, and the
      // properties after it are still read.
      Report(QStringLiteral("line %1: %2").arg(value->Line).arg(e.Text()));
    }
  }
}

void ReadProperties(const IXXMLNode &Node, QObject *Object, const QString &ClassName) {
  if (Node)
    ReadProperties(ReadPageProperties(Node), Object, ClassName);
}

QWidget *CreateElement(const TPageElement &Element, QWidget *Parent, const TReportProc &Report,
                       const std::function<void(QWidget *)> &BeforeRead) {
  // The line leads the text, so the user finds the element in the file.
  const auto report = [&](const QString &Text) { Report(QStringLiteral("line %1: %2").arg(Element.Line).arg(Text)); };
  QWidget *control = nullptr;
  try {
    control = CreateControl(Parent, Element.ClassName);
  } catch (const EKvError &e) {
    report(e.Text());
    return nullptr;
  }
  if (BeforeRead)
    BeforeRead(control);
  try {
    ReadProperties(Element.Properties, control, Element.ClassName, Report);
  } catch (const EKvError &e) {
    report(e.Text());
  }
  for (const TPageElement &inner : Element.Children)
    CreateElement(inner, control, Report, BeforeRead);
  return control;
}

QWidget *CreateElement(const IXXMLNode &Node, QWidget *Parent, const TReportProc &Report,
                       const std::function<void(QWidget *)> &BeforeRead) {
  return CreateElement(ReadPageElement(Node), Parent, Report, BeforeRead);
}

namespace {
// What a page file keeps of a control: its own caption, never the one a
// relay lent it while bound.
QString StoredText(const QObject *Object, const QString &Name) {
  if (const auto *p = qobject_cast<const TCaptionedPanel *>(Object);
      p && Name.compare(QLatin1String("LabelCaption"), Qt::CaseInsensitive) == 0)
    return p->OwnCaption();
  if (const auto *e = qobject_cast<const TMeasureLabeledEdit *>(Object);
      e && Name.compare(QLatin1String("EditLabelCaption"), Qt::CaseInsensitive) == 0)
    return e->OwnCaption();
  if (const auto *g = qobject_cast<const TBitregGroupBox *>(Object);
      g && Name.compare(QLatin1String("Caption"), Qt::CaseInsensitive) == 0)
    return g->OwnCaption();
  return PropertyText(Object, Name);
}
} // namespace

void WriteObject(const QString &Name, QObject *Object, const IXXMLNode &Parent) {
  const QString className = QString::fromLatin1(Object->metaObject()->className());
  const QStringList *names = FindStored(className);
  if (!names)
    return;
  const IXXMLNode node = Parent->AddChild(Name);
  if (Name == "element")
    node->AddChild(QStringLiteral("class"))->SetText(className);
  for (const QString &name : *names) {
    if (!IsPublished(Object, name))
      continue;
    const QMetaProperty p = FindProperty(Object, name);
    if (p.isValid() && IsObjectProperty(p)) {
      if (QObject *sub = p.read(Object).value<QObject *>())
        WriteObject(name, sub, node);
    } else {
      node->AddChild(name)->SetText(StoredText(Object, name));
    }
  }
  // Controls placed in a group box are kept inside its element.
  if (auto *box = qobject_cast<TGroupBoxA *>(Object))
    for (QWidget *w : ControlsOf(box, false))
      WriteObject(QStringLiteral("element"), w, node);
}
