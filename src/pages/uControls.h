#pragma once
// The device-bound controls that the title panel and the device boards place
// on their pages and the designers create: each shows one device value, a
// group of device bits, one setpoint, a date or the latest events. A control
// looks its item up in the run-time descriptor when its address is set and
// never reads the device: pages hand it a view of the register image, and a
// user's action reaches the page through the change handler it attached.
//
// Published properties are Qt properties under the names the page files use
// (found without regard to case); Left, Top, Width and Height are the
// widget's geometry. Colours are raw colour integers ($BBGGRR, negative for
// system colours), so files keep them as written. Main thread only.
#include "ixml.h"
#include "uControlRules.h"
#include "uDateTime.h"
#include "uPageFile.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QMetaType>
#include <QPointer>
#include <QString>
#include <QTreeWidget>
#include <QVariant>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

class TSimpleDeviceDescriptor;

namespace kvc {
Q_NAMESPACE
// Where a labeled control puts its caption.
enum TLabelPosition { lpAbove, lpBelow, lpLeft, lpRight };
Q_ENUM_NS(TLabelPosition)
// Which date a date field shows.
enum dteKind { dtCore, dtDesc, dtCurrent };
Q_ENUM_NS(dteKind)
enum TFontStyle { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
Q_DECLARE_FLAGS(TFontStyles, TFontStyle)
Q_FLAG_NS(TFontStyles)
} // namespace kvc
Q_DECLARE_OPERATORS_FOR_FLAGS(kvc::TFontStyles)

// System colours as the page files hold them.
constexpr int clBtnFace = int(0xFF00000F), clWindow = int(0xFF000005), clWindowText = int(0xFF000008);
// The colour a raw colour integer stands for.
QColor ColorOf(int Raw);

// One line of a selector: a display text and the number it stands for.
struct TSelectorItem {
  QString Text;
  int Object = 0;
  bool operator==(const TSelectorItem &) const = default;
};
using TSelector = QList<TSelectorItem>;
Q_DECLARE_METATYPE(TSelector)

// A control's font: a QFont has no colour, the page files keep one.
class TFont : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString Name READ Name WRITE SetName)
  Q_PROPERTY(int Color READ Color WRITE SetColor)
  Q_PROPERTY(int Size READ Size WRITE SetSize)
  Q_PROPERTY(kvc::TFontStyles Style READ Style WRITE SetStyle)
public:
  explicit TFont(QWidget *Owner);
  QString Name() const { return FName; }
  void SetName(const QString &V);
  int Color() const { return FColor; }
  void SetColor(int V);
  // Points.
  int Size() const { return FSize; }
  void SetSize(int V);
  kvc::TFontStyles Style() const { return FStyle; }
  void SetStyle(kvc::TFontStyles V);
  void Assign(const TFont &Source);
  // Puts the font and its colour on W (and on W's own parts).
  void ApplyTo(QWidget *W) const;

private:
  void Changed();
  QWidget *FOwner;
  QString FName = QStringLiteral("Tahoma");
  int FColor = clWindowText;
  int FSize = 8;
  kvc::TFontStyles FStyle;
};

// The identification epoch a control bound while the identification runs
// is bound for until it is ready: no epoch is ever this one, so the control
// cannot write before its binding is confirmed.
constexpr uint64_t BindingPending = ~uint64_t(0);

// What every control of this unit offers its page and the designers.
class TKvControl {
public:
  virtual ~TKvControl() = default;
  // Binds the control to the run-time descriptor (not owned; nullptr unbinds).
  virtual void SetDeviceDescriptor(TSimpleDeviceDescriptor *D) { FDesc = D; }
  TSimpleDeviceDescriptor *DeviceDescriptor() const { return FDesc; }
  // Copies a control of the same class (designers' cloning); the binding's
  // epoch is not copied: a copy writes only once its page binds it.
  virtual void Assign(const QWidget *Source) = 0;
  // The identification epoch (TIOChainGen::IdentEpoch) the control was last
  // bound for: 0 never bound, BindingPending bound by an identification not
  // yet ready. A write from the control is prepared for it.
  uint64_t BoundFor() const { return FBoundFor; }
  void SetBoundFor(uint64_t Epoch) { FBoundFor = Epoch; }

protected:
  TSimpleDeviceDescriptor *FDesc = nullptr;

private:
  uint64_t FBoundFor = 0;
};

// A control bound to a register block (`mreg`).
class TRegControl : public TKvControl {
public:
  int mreg() const { return FMreg; }
  // Looks the item up in the descriptor (when set); throws EKvRange for
  // descriptor values that do not fit.
  virtual void setMreg(int V) = 0;
  int macc() const { return FMacc; }
  virtual int wordCount() const { return 1; }
  // Shows the words of Values (Values[0] is register mreg). Flags bit 0:
  // primary values.
  virtual void setValue(std::span<const uint16_t> Values, int Flags) = 0;

protected:
  int FMreg = 65535;
  int FMacc = 0;
};

class TBitregGroupBox;
class TShape;

// One bit of a bit group: a circle and a label in the group box.
class TBit {
public:
  TBit(TBitregGroupBox *Owner, int Index, const QString &Name);
  ~TBit();
  TBit(const TBit &) = delete;
  TBit &operator=(const TBit &) = delete;
  TBitregGroupBox *Owner() const { return FOwner; }
  // Number over the register block: register mreg + Index / 16, bit Index % 16.
  int Index() const { return FIndex; }
  QString Name() const;
  void SetName(const QString &V);
  bool Shown = true;
  int Pulse = 0;
  void SetPulse(int Count) { Pulse = Count; }
  TShape *Circle() const { return FCircle; }
  QLabel *Label() const { return FLabel; }

private:
  TBitregGroupBox *FOwner;
  int FIndex;
  QPointer<TShape> FCircle;
  QPointer<QLabel> FLabel;
};

// The circle of a bit: an ellipse filled with its brush colour.
class TShape : public QWidget {
  Q_OBJECT
public:
  TShape(TBit *ABit, QWidget *Parent);
  TBit *Bit() const { return FBit; }
  int BrushColor() const { return FBrush; }
  void SetBrushColor(int V);

protected:
  void paintEvent(QPaintEvent *) override;
  void mousePressEvent(QMouseEvent *E) override;

private:
  TBit *FBit;
  int FBrush = 65535;
};

// The bits of a bit group, in creation order; owns them.
class TBitList : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString bitmap READ bitmap WRITE setBitmap)
public:
  explicit TBitList(TBitregGroupBox *Owner);
  ~TBitList() override;
  // One character per bit, "1" shown. Before the bits exist: the text last set.
  QString bitmap() const;
  void setBitmap(const QString &V);
  // The remembered text (applied again whenever the bits are rebuilt).
  QString Remembered() const { return FBitmap; }
  int Count() const { return int(FItems.size()); }
  TBit *Item(int I) const { return FItems[I].get(); }
  TBit *Add(int Index, const QString &Name);
  void Clear();
  void Assign(const TBitList &Source);

private:
  TBitregGroupBox *FOwner;
  std::vector<std::unique_ptr<TBit>> FItems;
  QString FBitmap;
};

class TBitregGroupBox : public QGroupBox, public TRegControl {
  Q_OBJECT
  Q_PROPERTY(int ColCount READ ColCount WRITE SetColCount)
  Q_PROPERTY(int RowHeight READ RowHeight WRITE SetRowHeight)
  Q_PROPERTY(int onColor READ onColor WRITE SetOnColor)
  Q_PROPERTY(int offColor READ offColor WRITE SetOffColor)
  Q_PROPERTY(int ukColor READ ukColor WRITE SetUkColor)
  Q_PROPERTY(int mreg READ mreg WRITE setMreg)
  Q_PROPERTY(int macc READ macc)
  Q_PROPERTY(int rt READ rt)
  Q_PROPERTY(int wordCount READ wordCount)
  Q_PROPERTY(TBitList *BitList READ BitList)
  Q_PROPERTY(QString bitmap READ bitmap WRITE setBitmap)
  Q_PROPERTY(TSelector selector READ selector)
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
  Q_PROPERTY(TFont *Font READ Font)
public:
  explicit TBitregGroupBox(QWidget *Parent = nullptr);
  int ColCount() const { return FColCount; }
  void SetColCount(int V);
  int RowHeight() const { return FRowHeight; }
  void SetRowHeight(int V);
  int onColor() const { return FOnColor; }
  void SetOnColor(int V) { FOnColor = V; }
  int offColor() const { return FOffColor; }
  void SetOffColor(int V) { FOffColor = V; }
  int ukColor() const { return FUkColor; }
  void SetUkColor(int V);
  void setMreg(int V) override;
  int rt() const { return FRt; }
  int wordCount() const override;
  TBitList *BitList() const { return FBitList; }
  QString bitmap() const { return FBitList->bitmap(); }
  void setBitmap(const QString &V) { FBitList->setBitmap(V); }
  TSelector selector() const { return FSelector; }
  // Saved as the group's own caption, whatever language shows it.
  QString Caption() const { return FOwnCaption; }
  // The group's own caption (its file's or the user's), shown unless the
  // user picks another register the descriptor names.
  void SetCaption(const QString &V) { FOwnCaption = V, setTitle(V); }
  QString OwnCaption() const { return FOwnCaption; }
  TFont *Font() const { return FFont; }
  void SetDeviceDescriptor(TSimpleDeviceDescriptor *D) override;
  // The descriptor describes the group's register: it has bits, is enabled.
  bool IsBound() const { return FBound; }
  void setValue(std::span<const uint16_t> Values, int Flags) override;
  void Assign(const QWidget *Source) override;
  // Places the shown bits (nothing with ColCount 0).
  void LayoutBits();
  // Called when a circle is pressed.
  std::function<void(TShape *Circle)> bitMouseDown;

protected:
  void resizeEvent(QResizeEvent *E) override;

private:
  int FColCount = 1, FRowHeight = 16;
  int FOnColor = 32768, FOffColor = 255, FUkColor = 65535;
  int FRt = 0;
  bool FBound = false;
  QString FOwnCaption;
  TBitList *FBitList;
  TFont *FFont;
  TSelector FSelector;
};

// A line edit with an attached caption label that sits beside it in the same
// parent (so the edit's bounds are the control's bounds, as files hold them).
class TLabeledEdit : public QLineEdit {
  Q_OBJECT
  Q_PROPERTY(kvc::TLabelPosition LabelPosition READ LabelPosition WRITE SetLabelPosition)
  Q_PROPERTY(int LabelSpacing READ LabelSpacing WRITE SetLabelSpacing)
  Q_PROPERTY(TFont *Font READ Font)
  Q_PROPERTY(int Color READ Color WRITE SetColor)
public:
  explicit TLabeledEdit(QWidget *Parent = nullptr);
  ~TLabeledEdit() override;
  kvc::TLabelPosition LabelPosition() const { return FLabelPosition; }
  void SetLabelPosition(kvc::TLabelPosition V);
  int LabelSpacing() const { return FLabelSpacing; }
  void SetLabelSpacing(int V);
  TFont *Font() const { return FFont; }
  int Color() const { return FColor; }
  void SetColor(int V);
  QLabel *EditLabel() const { return FLabel; }
  // Shows V; the label keeps it as given, though the interface's language
  // changes what it shows.
  void SetLabelText(const QString &V);
  QString LabelSource() const { return FLabelSource; }
  // The caption the control's file or its user gave it (shown while the
  // descriptor does not describe the control).
  QString OwnCaption() const { return FOwnCaption; }
  void SetOwnCaption(const QString &V) { FOwnCaption = V, SetLabelText(V); }
  // Every position name with its label position (`posselector`).
  static TSelector PosSelector();
  void AssignLabeled(const TLabeledEdit &Source);

protected:
  bool event(QEvent *E) override;
  void moveEvent(QMoveEvent *E) override;
  void resizeEvent(QResizeEvent *E) override;
  void PlaceLabel();

private:
  QPointer<QLabel> FLabel;
  QString FLabelSource;
  QString FOwnCaption;
  kvc::TLabelPosition FLabelPosition = kvc::lpAbove;
  int FLabelSpacing = 3;
  int FColor = clWindow;
  TFont *FFont;
};

class TMeasureLabeledEdit : public TLabeledEdit, public TRegControl {
  Q_OBJECT
  Q_PROPERTY(int mreg READ mreg WRITE setMreg)
  Q_PROPERTY(int macc READ macc)
  Q_PROPERTY(int wordCount READ wordCount)
  Q_PROPERTY(QString EditLabelCaption READ EditLabelCaption WRITE SetEditLabelCaption)
  Q_PROPERTY(TSelector selector READ selector)
  Q_PROPERTY(TSelector posselector READ PosSelector)
public:
  explicit TMeasureLabeledEdit(QWidget *Parent = nullptr);
  void setMreg(int V) override;
  // Saved as the file holds it: the own caption while not bound.
  QString EditLabelCaption() const { return FBound ? LabelSource() : OwnCaption(); }
  void SetEditLabelCaption(const QString &V) { SetOwnCaption(V); }
  bool IsBound() const { return FBound; }
  TSelector selector() const { return FSelector; }
  void SetDeviceDescriptor(TSimpleDeviceDescriptor *D) override;
  void setValue(std::span<const uint16_t> Values, int Flags) override;
  void Assign(const QWidget *Source) override;
  // Nominal values read from the device (0 is taken as 1).
  void SetPrimVal(uint16_t V) { FScale.PrimVal = V ? V : 1; }
  void SetSecVal(uint16_t V) { FScale.SecVal = V ? V : 1; }
  uint16_t MvpReg() const { return FScale.MvpReg; }
  uint16_t MvsReg() const { return FScale.MvsReg; }

private:
  TMeasureScale FScale;
  TSelector FSelector;
  bool FBound = false;
};

class TParamLabeledEdit : public TLabeledEdit, public TRegControl {
  Q_OBJECT
  Q_PROPERTY(int mreg READ mreg WRITE setMreg)
  Q_PROPERTY(int macc READ macc)
  Q_PROPERTY(int wordCount READ wordCount)
public:
  explicit TParamLabeledEdit(QWidget *Parent = nullptr);
  void setMreg(int V) override;
  void setValue(std::span<const uint16_t> Values, int Flags) override;
  void Assign(const QWidget *Source) override;
  bool IsBound() const { return FBound; }

private:
  bool FBound = false;
};

class TDateTimeLabeledEdit : public TLabeledEdit, public TKvControl {
  Q_OBJECT
  Q_PROPERTY(kvc::dteKind Kind READ Kind WRITE SetKind)
  Q_PROPERTY(QString Format READ Format WRITE SetFormat)
public:
  explicit TDateTimeLabeledEdit(QWidget *Parent = nullptr);
  kvc::dteKind Kind() const { return FKind; }
  void SetKind(kvc::dteKind V) { FKind = V; }
  QString Format() const { return FFormat; }
  void SetFormat(const QString &V) { FFormat = V; }
  // Shows Values[0] taken as a day count.
  void setValue(std::span<const uint16_t> Values);
  void Assign(const QWidget *Source) override;

private:
  kvc::dteKind FKind = kvc::dtCore;
  QString FFormat = QStringLiteral("yyyy.mm.dd");
};

class TDateTimeEdit : public QLineEdit, public TKvControl {
  Q_OBJECT
  Q_PROPERTY(kvc::dteKind Kind READ Kind WRITE SetKind)
  Q_PROPERTY(TSelector KindSelector READ KindSelector)
  Q_PROPERTY(QString Format READ Format WRITE SetFormat)
  Q_PROPERTY(TSelector FormatSelector READ FormatSelector)
  Q_PROPERTY(TFont *Font READ Font)
  Q_PROPERTY(int Color READ Color WRITE SetColor)
public:
  explicit TDateTimeEdit(QWidget *Parent = nullptr);
  kvc::dteKind Kind() const { return FKind; }
  void SetKind(kvc::dteKind V) { FKind = V; }
  static TSelector KindSelector();
  QString Format() const { return FFormat; }
  void SetFormat(const QString &V);
  static TSelector FormatSelector();
  TFont *Font() const { return FFont; }
  int Color() const { return FColor; }
  void SetColor(int V);
  // Shows Value with Format; 0 shows nothing.
  void setValue(TDateTime Value);
  TDateTime Value() const { return FValue; }
  void Assign(const QWidget *Source) override;

private:
  kvc::dteKind FKind = kvc::dtCore;
  QString FFormat = QStringLiteral("yyyy.mm.dd");
  TDateTime FValue = 0;
  int FColor = clBtnFace;
  TFont *FFont;
};

// A panel with a caption label above a drop-down list.
class TCaptionedPanel : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QString LabelCaption READ LabelCaption WRITE SetLabelCaption)
  Q_PROPERTY(kvc::TLabelPosition LabelPosition READ LabelPosition WRITE SetLabelPosition)
  Q_PROPERTY(int LabelSpacing READ LabelSpacing WRITE SetLabelSpacing)
  Q_PROPERTY(TSelector posselector READ PosSelector)
  Q_PROPERTY(TFont *Font READ Font)
  Q_PROPERTY(int Color READ Color WRITE SetColor)
public:
  explicit TCaptionedPanel(QWidget *Parent = nullptr);
  // The caption shown; saved as the file holds it: the own caption (the
  // file's or the user's) while the descriptor does not describe the control.
  QString LabelCaption() const { return FBound ? FShownSource : FOwnCaption; }
  void SetLabelCaption(const QString &V);
  QString OwnCaption() const { return FOwnCaption; }
  // The descriptor describes the control: its caption, items and access are
  // the relay's; otherwise it shows its own caption, is disabled and writes nothing.
  bool IsBound() const { return FBound; }
  kvc::TLabelPosition LabelPosition() const { return FLabelPosition; }
  void SetLabelPosition(kvc::TLabelPosition V) { FLabelPosition = V; }
  int LabelSpacing() const { return FLabelSpacing; }
  virtual void SetLabelSpacing(int V) { FLabelSpacing = V; }
  static TSelector PosSelector() { return TLabeledEdit::PosSelector(); }
  TFont *Font() const { return FFont; }
  int Color() const { return FColor; }
  void SetColor(int V);
  QLabel *Label() const { return FLabel; }
  void AssignPanel(const TCaptionedPanel &Source);

protected:
  // Shows a caption the descriptor gives (the own caption stays), kept as
  // given though the interface's language changes what the label shows.
  void ShowCaption(const QString &V);
  QLabel *FLabel;
  QString FShownSource;
  QString FOwnCaption;
  bool FBound = false;
  kvc::TLabelPosition FLabelPosition = kvc::lpAbove;
  int FLabelSpacing = 3;
  int FColor = clBtnFace;
  TFont *FFont;
};

class TParamEnum : public TCaptionedPanel, public TRegControl {
  Q_OBJECT
  Q_PROPERTY(int mreg READ mreg WRITE setMreg)
  Q_PROPERTY(int macc READ macc)
  Q_PROPERTY(int wordCount READ wordCount)
  Q_PROPERTY(TSelector selector READ selector)
public:
  explicit TParamEnum(QWidget *Parent = nullptr);
  void setMreg(int V) override;
  TSelector selector() const { return FSelector; }
  void SetLabelSpacing(int V) override;
  void SetDeviceDescriptor(TSimpleDeviceDescriptor *D) override;
  void setValue(std::span<const uint16_t> Values, int Flags) override;
  void Assign(const QWidget *Source) override;
  QComboBox *List() const { return FList; }
  // The page's write handler: register and the chosen index (a user's choice only).
  void SetOnChange(std::function<void(uint16_t Reg, int16_t Value)> Handler) { FOnChange = std::move(Handler); }

protected:
  void resizeEvent(QResizeEvent *E) override;

private:
  void Relayout();
  QComboBox *FList;
  TSelector FSelector;
  std::function<void(uint16_t, int16_t)> FOnChange;
};

class TUstavPanel : public TCaptionedPanel, public TKvControl {
  Q_OBJECT
  Q_PROPERTY(int macc READ macc)
  Q_PROPERTY(int wordCount READ wordCount)
  Q_PROPERTY(int level READ level WRITE setLevel)
  Q_PROPERTY(int idx READ idx WRITE setIdx)
  Q_PROPERTY(int bit READ bit WRITE setBit)
  Q_PROPERTY(TSelector selector READ selector)
  Q_PROPERTY(TSelector levelselector READ levelselector)
  Q_PROPERTY(TSelector bitselector READ bitselector)
public:
  explicit TUstavPanel(QWidget *Parent = nullptr);
  ~TUstavPanel() override;
  int macc() const { return FMacc; }
  int wordCount() const { return 1; }
  int level() const { return FLevel; }
  void setLevel(int V);
  int idx() const { return FIdx; }
  void setIdx(int V);
  int bit() const { return FBit; }
  void setBit(int V);
  TSelector selector() const { return FSelector; }
  TSelector levelselector() const { return FLevelSelector; }
  TSelector bitselector() const { return FBitSelector; }
  // "num", "enum" or "bit"; another text throws EKvError "invalid ustav type".
  QString Kind() const { return FKind; }
  void SetKind(const QString &V);
  void SetDeviceDescriptor(TSimpleDeviceDescriptor *D) override;
  // Shows Values[0] in setpoint group Group (0 or 1).
  void setValue(int Group, std::span<const uint16_t> Values);
  // Group Group (0 or 1) shows no value: an empty edit, no item chosen.
  void ShowNoValue(int Group);
  void DisableChange(bool Value);
  void Assign(const QWidget *Source) override;
  // The page's write handler: register, word and mask (a user's action only).
  void SetOnChange(std::function<void(uint16_t Reg, uint16_t Value, uint16_t Mask)> Handler) {
    FOnChange = std::move(Handler);
  }
  QLineEdit *Edit(int Group) const { return Group ? FEdit2 : FEdit1; }
  QComboBox *List(int Group) const { return Group ? FList2 : FList1; }
  // A press on the panel or its edits (designers select the panel by it).
  std::function<void(TUstavPanel *Panel)> OnPanelMouseDown;

protected:
  void resizeEvent(QResizeEvent *E) override;
  bool eventFilter(QObject *Watched, QEvent *E) override;

private:
  IXXMLNode Item() const;
  int GroupReg(int Group) const;
  void RebuildSelector();
  // Looks idx and bit up: bound to a described setpoint (a bit set's panel
  // to one bit of it), or unbound as a panel made afresh.
  void Bind();
  void UpdateCaption();
  void ListChosen(int Group, int Index);
  void EnterPressed(int Group);
  QLineEdit *FEdit1, *FEdit2;
  QComboBox *FList1, *FList2;
  IXXMLNodeList FItems;
  QString FKind = QStringLiteral("num");
  int FMacc = 0, FLevel = 0, FIdx = -1, FBit = -1;
  TSelector FSelector, FLevelSelector, FBitSelector;
  std::function<void(uint16_t, uint16_t, uint16_t)> FOnChange;
  bool FDestroying = false;
};

class TLabelA : public QLabel, public TKvControl {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
  Q_PROPERTY(TFont *Font READ Font)
  Q_PROPERTY(int Color READ Color WRITE SetColor)
public:
  explicit TLabelA(QWidget *Parent = nullptr);
  // The text as its file or user gave it; what is shown follows the
  // interface's language. A text set on the label itself is its own.
  QString Caption() const;
  void SetCaption(const QString &V) { FCaption = V, setText(V); }
  TFont *Font() const { return FFont; }
  int Color() const { return FColor; }
  void SetColor(int V);
  void Assign(const QWidget *Source) override;

private:
  QString FCaption;
  int FColor = clBtnFace;
  TFont *FFont;
};

class TGroupBoxA : public QGroupBox, public TKvControl {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ title WRITE setTitle)
  Q_PROPERTY(TFont *Font READ Font)
  Q_PROPERTY(int Color READ Color WRITE SetColor)
public:
  explicit TGroupBoxA(QWidget *Parent = nullptr);
  TFont *Font() const { return FFont; }
  int Color() const { return FColor; }
  void SetColor(int V);
  void Assign(const QWidget *Source) override;

private:
  int FColor = clBtnFace;
  TFont *FFont;
};

class TEventView : public QTreeWidget, public TKvControl {
  Q_OBJECT
  Q_PROPERTY(QString Caption1 READ Caption1 WRITE SetCaption1)
  Q_PROPERTY(QString Caption2 READ Caption2 WRITE SetCaption2)
  Q_PROPERTY(int Width1 READ Width1 WRITE SetWidth1)
  Q_PROPERTY(int Width2 READ Width2 WRITE SetWidth2)
  Q_PROPERTY(int MaxCount READ MaxCount WRITE SetMaxCount)
  Q_PROPERTY(QString DateTimeFormat READ DateTimeFormat WRITE SetDateTimeFormat)
  Q_PROPERTY(int level READ level WRITE setLevel)
  Q_PROPERTY(TSelector levelselector READ levelselector)
  Q_PROPERTY(TFont *Font READ Font)
  Q_PROPERTY(int Color READ Color WRITE SetColor)
public:
  explicit TEventView(QWidget *Parent = nullptr);
  QString Caption1() const;
  void SetCaption1(const QString &V);
  QString Caption2() const;
  void SetCaption2(const QString &V);
  // Column widths; -1 and -2 size a column to its texts or title; below -2 EKvRange.
  int Width1() const { return FWidth[0]; }
  void SetWidth1(int V) { SetWidth(0, V); }
  int Width2() const { return FWidth[1]; }
  void SetWidth2(int V) { SetWidth(1, V); }
  int MaxCount() const { return FMaxCount; }
  void SetMaxCount(int V) { FMaxCount = V; }
  QString DateTimeFormat() const { return FDateTimeFormat; }
  void SetDateTimeFormat(const QString &V) { FDateTimeFormat = V; }
  int level() const { return FLevel; }
  void setLevel(int V) { FLevel = V; }
  TSelector levelselector() const { return FLevelSelector; }
  TFont *Font() const { return FFont; }
  int Color() const { return FColor; }
  void SetColor(int V);
  void SetDeviceDescriptor(TSimpleDeviceDescriptor *D) override;
  // A row at the top; the oldest row goes beyond MaxCount.
  void InsertEvent(const QString &Time, const QString &Text, const QString &Value);
  void Assign(const QWidget *Source) override;

private:
  void SetWidth(int Column, int V);
  int FWidth[2] = {150, 250};
  QString FCaptions[2]; // the titles of columns 1 and 2 as the file or user gave them
  int FMaxCount = 5;
  QString FDateTimeFormat = QStringLiteral("yyyy.mm.dd hh:nn:ss.zzz");
  int FLevel = 0;
  int FColor = clWindow;
  TSelector FLevelSelector;
  TFont *FFont;
};

// ---- registries and the page-file reader and writer

// The stored properties of ClassName in file order (empty when it has none).
QStringList StoredProperties(const QString &ClassName);
bool HasStoredProperties(const QString &ClassName);
// Registered control class names.
QStringList ControlClassNames();

// A new control of ClassName in Parent, named ClassName + the program-wide
// control counter (then counted on). Throws EKvError "Class X not found".
QWidget *CreateControl(QWidget *Parent, const QString &ClassName);
// Deletes every control of Container (nothing keeps pointing at them).
void RemoveAllControls(QWidget *Container);
// Calls Proc for each child widget of Container in child order.
void ForEachBit(QWidget *Container, const std::function<void(QWidget *Control)> &Proc);
// The controls of Container (registered classes only), in child order; with
// Deep, the controls inside them follow each one (depth first).
QList<QWidget *> ControlsOf(QWidget *Container, bool Deep);

// The epoch the control a user acted on was bound for (a bit's circle: its
// group's); 0 for anything not a bound control.
uint64_t BoundEpochOf(const QObject *Control);

// Replaces Target's controls by copies of Source's (made by CreateControl,
// then Assign); the controls inside a TGroupBoxA are copied with it.
void CopyControls(QWidget *Source, QWidget *Target);

// Published property by name, letter case ignored (Left, Top, Width and
// Height are the widget's geometry). Empty when not published.
bool IsPublished(const QObject *Object, const QString &Name);
QVariant PropertyValue(const QObject *Object, const QString &Name);
void SetPropertyValue(QObject *Object, const QString &Name, const QVariant &Value);
// The text form a page file holds: decimal integers, enumeration and set
// identifiers ("fsBold,fsItalic"), "True"/"False".
QString PropertyText(const QObject *Object, const QString &Name);
// The identifiers of an enumeration property; empty for other kinds.
QStringList EnumIdentifiers(const QObject *Object, const QString &Name);
// Sets a property from its text form. Throws EKvError "'X' is not a valid
// integer value" for integers, "'X' is not a valid <Name> value" for an
// identifier outside the enumeration or set, or a flag neither True nor
// False; the property then keeps its value.
void SetPropertyText(QObject *Object, const QString &Name, const QString &Text);

using TReportProc = std::function<void(const QString &Text)>;
// Sets the stored properties of Object from the property records of its
// element (missing or "???" keep their value). Throws EKvError "unsuppoorted
// property for " + ClassName when the class has no stored list. A value not
// understood throws, or with Report is given to it as "line N: " + the
// reason (N the value's line) and the other values are still read.
void ReadProperties(const QList<TPageProperty> &Values, QObject *Object, const QString &ClassName,
                    const TReportProc &Report = nullptr);
// As above, from an element node of a page document.
void ReadProperties(const IXXMLNode &Node, QObject *Object, const QString &ClassName);
// Makes the control of one element record in Parent and, inside it, the
// controls of the records within. A class that is not registered or a bad
// property is given to Report as "line N: " + the reason, and loading goes
// on; returns the control or nullptr. BeforeRead runs on each new control
// before its properties are read.
QWidget *CreateElement(const TPageElement &Element, QWidget *Parent, const TReportProc &Report,
                       const std::function<void(QWidget *)> &BeforeRead = nullptr);
// As above, from an element node of a page document.
QWidget *CreateElement(const IXXMLNode &Node, QWidget *Parent, const TReportProc &Report,
                       const std::function<void(QWidget *)> &BeforeRead = nullptr);
// Appends Name to Parent with the stored properties of Object (and `class`
// for "element"); a group box's controls follow as nested elements. Nothing
// for a class without a stored list. A caption the descriptor gives is not
// stored: the control's own one is, as its file holds it.
void WriteObject(const QString &Name, QObject *Object, const IXXMLNode &Parent);
