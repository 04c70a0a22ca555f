#pragma once
// The design-time device descriptor: the editable model of what a device
// serves over Modbus (measurements, bit groups, parameters, setpoints, events,
// oscillogram channels), its XML form, its compilation into the binary image
// the device interprets ("desc.bin"), the check that every record is bound to
// a firmware identifier, and the address generator. GUI-free; main thread only.
#include "ixml.h"
#include "uModbusIderList.h"

#include <QIODevice>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class TDeviceDescriptor;

// ---- plain encoders of the image, shared with the menu image

// A display string (text for the device's character display) without its end
// byte: "|" is $01, "\" + decimal digits the byte of that value, "\\" the map's
// code of "\", any other character its code in Map (256 bytes), the code of the
// blank where that is 0. Throws EKvError "invalid special symbol in " + Text for
// another character after "\" or a value of 0 (a zero byte would end the string
// early), EKvRange with the same text for a value above 255.
QByteArray EncodeDisplayString(const QString &Text, const uint8_t *Map);
// The Windows-1251 bytes of Text, a zero character written as a blank; no end byte.
QByteArray EncodePlainString(const QString &Text);
// 1 for 10, 2 for 100, 3 for 1000, 0 for any other factor.
uint8_t ScaleCode(int Factor);
// Packed BCD date: day, month, century, year in century ($05 $03 $20 $21 for
// 5 March 2021), as a little-endian double word ready for BuildBin.
uint32_t PackBcdDate(int Year, int Month, int Day);

// Value bits as text, most significant first, a blank between groups of four
// counted from the least significant bit: IntToBinStr(165, 8) = "1010 0101".
QString IntToBinStr(int Value, int Bits);
// Reads from the last character backwards: "1" sets the next bit, "0" skips one,
// anything else is ignored.
int BinStrToInt(const QString &S);
// X rounded to Digits significant places, as the default float text; "0" for 0.
QString FormatSignificant(double X, int Digits);

// ---- records

// The binding of a record to Modbus and to the firmware's memory.
class TModbusObject {
public:
  uint16_t Reg = 0xFFFF; // Modbus register, $FFFF = none
  uint8_t Acc = 0;       // Modbus access: 1 read, 2 write, 4 kept in EEPROM
  uint16_t Sram = 0xFFFF;
  uint16_t Eeprom = 0xFFFF;
  // A copy of the firmware identifier it is bound to: the process-wide list may
  // be dropped and read again while the descriptor lives.
  std::optional<TModbusIder> Ider;
  int Flag = 1; // kept from stored descriptors; nothing reads it

  QString IderName() const { return Ider ? Ider->Name : QString(); }
};

class TDDObject {
public:
  explicit TDDObject(TDeviceDescriptor *AOwner) : Owner(AOwner) {}
  virtual ~TDDObject() = default;

  int RecordType = 0;
  int Ider = 0;
  TModbusObject FModbusObject;
  TDeviceDescriptor *Owner;
  uint16_t ImageAddr = 0xFFFF; // address of the record in the last built image

  uint16_t GetModbusReg() const { return FModbusObject.Reg; }
  uint8_t GetModbusAcc() const { return FModbusObject.Acc; }
  uint16_t GetModbusSram() const { return FModbusObject.Sram; }
  uint16_t GetModbusEeprom() const { return FModbusObject.Eeprom; }
  void SetModbusAcc(uint8_t Value) { FModbusObject.Acc = Value; }
  void SetModbusSram(uint16_t Value) { FModbusObject.Sram = Value; }
};

class TDDNamedObject : public TDDObject {
public:
  using TDDObject::TDDObject;
  QString String;      // full text
  QString ShortString; // display text; the image takes 20 characters of String when empty

  void SetString(const QString &Value) { String = Value; }
  void SetShortString(const QString &Value) { ShortString = Value; }
};

// One entry of a text table.
class TDDString {
public:
  int Ider = 0;
  QString Value1, Value2; // full and short text
  void SetValue(const QString &Value) { Value1 = Value; }
};

class TDDStringList : public std::vector<TDDString> {
public:
  void Add(int Ider, const QString &Value1, const QString &Value2) { push_back({Ider, Value1, Value2}); }
  const TDDString &GetItem(int Index) const { return at(size_t(Index)); }
  // Entry i gets identifier i, Strings[i] and ShortStrings[i] (Strings[i] again without one).
  void Assign(const QStringList &Strings, const QStringList &ShortStrings);
  void FillStrings(QStringList &Lines) const;
  void FillShortStrings(QStringList &Lines) const;
};

template <class T> class TDDList : public std::vector<std::unique_ptr<T>> {
public:
  T *Get(int Index) const { return this->at(size_t(Index)).get(); }
  T *Add(std::unique_ptr<T> Item) {
    this->push_back(std::move(Item));
    return this->back().get();
  }
  // The last record with that identifier, null when none.
  T *FindById(int Id) const {
    T *found = nullptr;
    for (const auto &i : *this)
      if (i->Ider == Id)
        found = i.get();
    return found;
  }
};

class TDDParam;

class TDDMeasure : public TDDNamedObject {
public:
  explicit TDDMeasure(TDeviceDescriptor *AOwner) : TDDNamedObject(AOwner) { RecordType = 1; }
  uint16_t PrimValMult = 1, SecValDiv = 1;
  bool Visible = false, Dopkod = false, OffsetFlag = false;
  uint16_t Offset = 0;
  QString MvpId, MvsId;         // identifier names of the scaling parameters
  TDDParam *Mvp = nullptr, *Mvs = nullptr; // resolved after loading
  uint16_t CalibrAddr = 0xFFFF;
  uint16_t Reserved1 = 0xFFFF, Reserved2 = 0xFFFF;
};

class TDDParamBitReg : public TDDNamedObject {
public:
  TDDParamBitReg(TDeviceDescriptor *AOwner, int Type);
  TDDStringList Bits;
};

struct TDDParamEnum {
  TDDStringList Strings;
};
struct TDDParamNumeric {
  uint16_t Koef = 1, Min = 0, Max = 0xFFFF;
};
struct TDDParamChar {
  uint16_t Length = 0;
  QString StringValue;
  uint8_t PasswdChar = 0;
};

class TDDParam : public TDDNamedObject {
public:
  enum { pkEnum = 0, pkNumeric = 1, pkChar = 2, pkNumericMvp = 3, pkNumericMvs = 4 };
  TDDParam(TDeviceDescriptor *AOwner, int AKind);
  int Kind;
  uint16_t Value = 0;
  // Throw EKvError "unable get enum param" / "unable get numeric param" /
  // EKvAssert "unable get char param" for a parameter of another kind.
  TDDParamEnum &GetEnum();
  TDDParamNumeric &GetNumeric();
  TDDParamChar &GetChar();
  const TDDParamEnum &GetEnum() const { return const_cast<TDDParam *>(this)->GetEnum(); }
  const TDDParamNumeric &GetNumeric() const { return const_cast<TDDParam *>(this)->GetNumeric(); }
  const TDDParamChar &GetChar() const { return const_cast<TDDParam *>(this)->GetChar(); }
  void SetValue(uint16_t AValue) { Value = AValue; }

private:
  TDDParamEnum FEnum;
  TDDParamNumeric FNumeric;
  TDDParamChar FChar;
};

class TDDParamCommon {
public:
  explicit TDDParamCommon(TDeviceDescriptor *AOwner);
  TDeviceDescriptor *Owner;
  uint16_t VarAddr = 0, VarSize = 0, BinAddr = 0, BinSize = 0, ModbusAddr = 32;
  TDDNamedObject Date, Status, Ustav1, Ustav2;
  int RegCount = 1024; // entries of the image's register map
  void SetVarAddr(uint16_t V) { VarAddr = V; }
  void SetVarSize(uint16_t V) { VarSize = V; }
  void SetBinAddr(uint16_t V) { BinAddr = V; }
  void SetBinSize(uint16_t V) { BinSize = V; }
};

struct TDDUstavCommon {
  uint16_t UstavAddr = 0, UstavSize = 0;
  int GroupCount = 2;
};

class TDDMeasure;

struct TDDUstavEnum {
  TDDStringList Strings, ShortStrings;
};
class TDDUstavNumeric {
public:
  TDDMeasure *Measure = nullptr;
  int MeasureIder = -1;
  uint16_t SecValMin = 0, SecValMax = 0;

  double ValueToFloat(uint16_t Value) const { return Value / Divider(); }
  // X times the divider, rounded half to even. Throws EKvRange outside 0..65535.
  uint16_t FloatToValue(double X) const;
  // FloatToValue of S read as a number ("." decimal separator); EKvError when it is none.
  uint16_t StrToValue(const QString &S) const;
  QString ValueToStr(uint16_t Value) const { return FormatSignificant(ValueToFloat(Value), 5); }

private:
  double Divider() const;
};

class TDDUstav : public TDDNamedObject {
public:
  enum { ukEnum = 0, ukNumeric = 1 };
  TDDUstav(TDeviceDescriptor *AOwner, int AKind);
  int Kind;
  uint8_t LevelMask = 1;
  int LevelIder = -1;
  std::array<uint16_t, 2> Values{0, 0};
  bool Custom = false;
  int UseCount = 0;

  // Throw EKvError "unable get enum ustav" / "unable get numeric ustav".
  TDDUstavEnum &GetEnum();
  TDDUstavNumeric &GetNumeric();
  const TDDUstavEnum &GetEnum() const { return const_cast<TDDUstav *>(this)->GetEnum(); }
  const TDDUstavNumeric &GetNumeric() const { return const_cast<TDDUstav *>(this)->GetNumeric(); }
  uint16_t GetValue(int Index) const { return Values.at(size_t(Index)); }
  void SetValue(int Index, uint16_t Value) { Values.at(size_t(Index)) = Value; }
  void SetLevelMask(uint8_t Value) { LevelMask = Value; }
  void SetLevelIder(int Value) { LevelIder = Value; }
  // With a level identifier: LevelMask := the 1-based position of that level text.
  void UpdateLevelMask();
  void IncCounter() { ++UseCount; }

private:
  TDDUstavEnum FEnum;
  TDDUstavNumeric FNumeric;
};

struct TDDEventCommon {
  uint8_t CodeOffset = 0, FrontOffset = 0, TimeOffset = 0;
};

class TDDEvent : public TDDNamedObject {
public:
  explicit TDDEvent(TDeviceDescriptor *AOwner) : TDDNamedObject(AOwner) { RecordType = 67; }
  uint8_t Code = 0;
  uint8_t LevelMask = 0;
};

// An event measurement (65) or an oscillogram channel (81).
class TDDMeasureRef : public TDDObject {
public:
  // Throws EKvAssert "TDDMeasureRef internal error" for another type.
  TDDMeasureRef(TDeviceDescriptor *AOwner, int Type);
  int MeasureIder = -1;
  uint16_t SaveCyclicity = 1;
};

// An event bit item (66) or an oscillogram bit item (82).
class TModbusObjectRef : public TDDObject {
public:
  // Throws EKvAssert "TModbusObjectRef internal error" for another type.
  TModbusObjectRef(TDeviceDescriptor *AOwner, int Type);
  QString ModbusId; // identifier name of the bit group
};

// ---- the image builder's state

class TDeviceDescriptorBin {
public:
  explicit TDeviceDescriptorBin(TDeviceDescriptor *AOwner);
  TDeviceDescriptor *Owner;
  int FHeaderCount = 0;
  std::array<uint16_t, 1024> FRegMap{};
  std::array<uint16_t, 17> FHeader{};
  uint16_t FBaseAddr = 0xFFFF;
  int32_t FFlashSize = -1;
  uint16_t FSRAMAddr = 0xFFFF, FSRAMFree = 0xFFFF, FSRAMSize = 0xFFFF;
  uint16_t FEEPROMAddr = 0xFFFF, FEEPROMSize = 0xFFFF;
  uint16_t FWorkingUstavAddr = 0xFFFF, FWorkingUstavSize = 0xFFFF;
  uint16_t FCoreDateAddr = 0xFFFF, FCoreDateSize = 0xFFFF;
  uint16_t FCalibrAddr = 0xFFFF;
  // Display codes of the program's characters: the built-in map until CopyCharMap
  // installs the device's before a build.
  std::array<uint8_t, 256> FCharMap{};

  // Takes the memory map of List.
  void CopyMemoryMap(const TModbusIderList &List);
  void ResetHeaderCount() { FHeaderCount = 0; }
  // Every register free: $FFFF in the map.
  void ResetRegMap();
  // Records the current position as the next area start (header word 2 + index).
  void AddAreaStart(QIODevice &Stream);
  void WriteHeaderWord(QIODevice &Stream, int Index, uint16_t Value);
  uint16_t ReadHeaderWord(QIODevice &Stream, int Index);
  void MakeHeaderAbsolute(QIODevice &Stream);
  // Claims register Reg + Offset of Record for the record at Position and sets
  // its ImageAddr. A record without register ($FFFF) claims nothing.
  void MapRegister(TDDNamedObject &Record, qint64 Position, int Offset = 0);
  // Claims Register for a setpoint record at Position (messages carry the register only).
  void MapRegisterAt(int Register, qint64 Position);
  void WriteCalibrAddr(QIODevice &Stream);
  void WriteCrc(QIODevice &Stream);
  uint16_t Address(qint64 Position) const;

private:
  std::array<bool, 1024> FClaimed{};
  void Claim(int Register, qint64 Position, const QString &Suffix);
};

// ---- the descriptor

class TDeviceDescriptor {
public:
  // Copies the memory map of the process-wide identifier list when there is one.
  TDeviceDescriptor();
  ~TDeviceDescriptor();
  TDeviceDescriptor(const TDeviceDescriptor &) = delete;
  TDeviceDescriptor &operator=(const TDeviceDescriptor &) = delete;

  uint16_t FVersion = 2;
  IXXMLDocument FDocument;
  QString FFileName;
  TDDList<TDDMeasure> FMeasures;
  TDDParamCommon FParamCommon;
  std::array<std::unique_ptr<TDDParamBitReg>, 5> FBitRegs; // record types 17..21
  TDDList<TDDParam> FParams, FParamsMvp, FParamsMvs;
  TDDUstavCommon FUstavCommon;
  TDDStringList FUstavLevels;
  TDDList<TDDUstav> FUstavs;
  TDDEventCommon FEventCommon;
  TDDStringList FEventLevels;
  TDDList<TDDMeasureRef> FEventMeasures;
  TDDList<TModbusObjectRef> FEventBitRegs;
  TDDList<TDDEvent> FEvents;
  TDDList<TDDMeasureRef> FOscItems;
  TDDList<TModbusObjectRef> FOscBitRegs;
  void *FHostModule = nullptr;
  bool FModified = false;
  TDeviceDescriptorBin FDeviceDescriptorBin;
  TDDStringList FTexts;
  QStringList FErrors;
  QString FIndicatorMenu = QStringLiteral("<item-list/>");
  std::array<std::array<uint16_t, 4>, 32> FCalibration{};
  int FCalibrationCount = 0;
  // Where a build writes "tempmenu.xml" and "menu.lst"; empty: the setting setup/temp.
  QString FWorkFolder;

  // Empties every record list; the common blocks keep their values.
  void Clear();
  // Loads the file and reads its root element (any name). Throws EKvError
  // "error loading " + FileName when it is no XML, and as LoadFromXML.
  void LoadFromFile(const QString &FileName);
  // Clears, reads the sections, binds and resolves, then shows the collected
  // errors. Throws EKvError for a missing required element, a bad value, an
  // unexpected record type, or a missing section ("missing element " + name).
  void LoadFromXML(const IXXMLNode &Node);
  // Appends the sections to Node. Throws EKvError "invalid event record type ".
  void SaveToXML(const IXXMLNode &Node) const;
  // Writes the menu text as a document of its own (root "document").
  void SaveMenuFile(const QString &FileName) const;
  void SetModified(bool Value) { FModified = Value; }
  // "Ошибки дескриптора" and the error lines (first 1000 characters), through the message sink.
  void ShowErrors() const;

  TDDMeasure *GetMeasure(int I) const { return FMeasures.Get(I); }
  TDDParam *GetParam(int I) const { return FParams.Get(I); }
  TDDParam *GetParamMvp(int I) const { return FParamsMvp.Get(I); }
  TDDParam *GetParamMvs(int I) const { return FParamsMvs.Get(I); }
  TDDUstav *GetUstav(int I) const { return FUstavs.Get(I); }
  TDDMeasureRef *GetEventMeasure(int I) const { return FEventMeasures.Get(I); }
  TModbusObjectRef *GetEventBitReg(int I) const { return FEventBitRegs.Get(I); }
  TDDEvent *GetEvent(int I) const { return FEvents.Get(I); }
  TDDMeasureRef *GetOscItem(int I) const { return FOscItems.Get(I); }
  TModbusObjectRef *GetOscBitReg(int I) const { return FOscBitRegs.Get(I); }
  TDDParamBitReg *GetBitReg(int Type) const { return FBitRegs.at(size_t(Type - 17)).get(); }

  TDDMeasure *FindMeasureById(int Id) const { return FMeasures.FindById(Id); }
  TDDUstav *FindUstavById(int Id) const { return FUstavs.FindById(Id); }
  TDDParam *FindParamById(int Id) const { return FParams.FindById(Id); }
  TDDMeasure *FindMeasureBySram(uint16_t Address) const;
  TDDEvent *FindEventByNumber(int Code) const;
  template <class T> static T *FindByIderName(const TDDList<T> &List, const QString &Name) {
    T *found = nullptr;
    for (const auto &i : List)
      if (i->FModbusObject.Ider && i->FModbusObject.Ider->Name == Name)
        found = i.get();
    return found;
  }
  TDDParamBitReg *FindBitRegByIderName(const QString &Name) const;
  // The lowest event number from 1 that no event has. EKvRange past 255.
  int NewEventCode() const;

  // Up to 32 records of four words (Words holds 4 * Count); EKvRange for more.
  void SetCalibrationTable(const uint16_t *Words, int Count);
  uint16_t GetCalibrationAngleAddr(uint16_t Sram) const;

  // Installs the display character map (256 bytes) the next build encodes with.
  void CopyCharMap(const uint8_t *Map);
  // Writes the image at the stream's position (the caller wrote the two-byte
  // length placeholder at 0, so offsets are stream positions); the menu area
  // is built from FIndicatorMenu through "tempmenu.xml" and listed in
  // "menu.lst" (both in FWorkFolder). Dates are
  // packed BCD (PackBcdDate). Throws on every build error; the stream then
  // holds a partial image.
  void BuildBin(QIODevice &Stream, const QByteArray &Code, uint16_t CodeSize, uint32_t LogicDate,
                uint32_t BuildDate, uint32_t IdentCrc);
  // "header.lst" from the image in Stream (read from its start).
  void WriteHeaderListing(QIODevice &Stream, const QString &FileName);

  // One line in FErrors per unbound record the image needs.
  void Validate();
  // SRAM and EEPROM addresses of every bound record, "memory.lst" in WorkFolder.
  void GenerateAddresses(const QString &WorkFolder);

private:
  friend class TDeviceDescriptorBin;
  struct TXmlIo;
  struct TBuilder;
  void SyncParams(TDDList<TDDParam> &List, const QString &Prefix, int Kind);
};

// Record type of the group-2 copy of a setpoint type: 51, 52, 54; -1 for another.
int UstavGroup2Type(int Type);
