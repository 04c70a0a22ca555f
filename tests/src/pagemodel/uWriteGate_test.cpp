#include "uWriteGate.h"
#include "uCharMap.h"

#include "uModbus.h"
#include "uMultiLingual.h"
#include "uUstav.h"
#include "uUstavSetFile.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <optional>

namespace {
// A descriptor root with parameters and setpoints as the run-time descriptor
// writes them: a scaled number limited to 1.00..50.00, a plain number
// limited to 1..247, one without limits, a two-item enumeration, a
// two-register text, a setpoint limited to 10..6000 in hundredths, an
// enumerated setpoint of three items and a bit set.
IXXMLNode Root() {
  static IXXMLDocument d;
  if (!d) {
    d = NewXMLDocument();
    EXPECT_TRUE(d->LoadXML(
        "<device-descriptor><param>"
        "<param-num><mreg>50</mreg><modbus-acc>3</modbus-acc><word-koef>2</word-koef><word-min>100</word-min>"
        "<word-max>5000</word-max><string>Время возврата</string></param-num>"
        "<param-num><mreg>31</mreg><modbus-acc>3</modbus-acc><word-min>1</word-min><word-max>247</word-max>"
        "<string>Адрес</string></param-num>"
        "<param-num><mreg>40</mreg><modbus-acc>3</modbus-acc><word-min>0</word-min><word-max>0</word-max>"
        "<string>Счетчик</string></param-num>"
        "<param-enum><mreg>30</mreg><modbus-acc>3</modbus-acc><string>Режим</string>"
        "<string><ider>0</ider><value>Выведен</value></string>"
        "<string><ider>1</ider><value>Введен</value></string></param-enum>"
        "<param-char><mreg>34</mreg><modbus-acc>3</modbus-acc><word-count>2</word-count>"
        "<string>Имя</string></param-char>"
        "</param><ustav>"
        "<ustav-num><record-type>50</record-type><modbus-acc>3</modbus-acc><string>Выдержка</string>"
        "<word-min>10</word-min><word-max>6000</word-max><mreg>101</mreg><mreg>151</mreg></ustav-num>"
        "<ustav-enum><record-type>49</record-type><modbus-acc>3</modbus-acc><string>Направленность</string>"
        "<string><ider>0</ider><value>нет</value></string><string><ider>1</ider><value>вперед</value></string>"
        "<string><ider>2</ider><value>назад</value></string><mreg>102</mreg><mreg>152</mreg></ustav-enum>"
        "<ustav-enum><record-type>53</record-type><modbus-acc>3</modbus-acc><string>Пуск</string>"
        "<string><ider>0</ider><value>A</value></string><mreg>104</mreg><mreg>154</mreg></ustav-enum>"
        "</ustav></device-descriptor>"));
  }
  return d->GetDocumentElement();
}

QString Line(const char *Name, const char *Op, const char *Limit) {
  return QString("\r\nПомилка \"%1\" %2 %3").arg(QString::fromUtf8(Name), Op, QString::fromUtf8(Limit));
}
} // namespace

TEST(WriteGate, EveryWriteOfABoundControlMeetsItsDescriptorLimits) {
  const struct {
    uint16_t Reg, Word, Mask;
    const char *Name;
    QString Report; // "" inside the limits
  } cases[] = {
      {50, 99, 0xFFFF, "Время возврата", Line("Время возврата", "<", "1.00")},
      {50, 100, 0xFFFF, "Время возврата", ""},
      {50, 5000, 0xFFFF, "Время возврата", ""},
      {50, 5001, 0xFFFF, "Время возврата", Line("Время возврата", ">", "50.00")},
      {31, 0, 0xFFFF, "Адрес", Line("Адрес", "<", "1")},
      {31, 300, 0xFFFF, "Адрес", Line("Адрес", ">", "247")},
      {40, 65535, 0xFFFF, "Счетчик", ""}, // 0..0: the descriptor gives no limits
      {30, 1, 0xFFFF, "Режим", ""},
      {30, 2, 0xFFFF, "Режим", Line("Режим", ">", "Введен")}, // a list's limit is its item
      {101, 7000, 0xFFFF, "Выдержка", Line("Выдержка", ">", "6000")},
      {151, 9, 0xFFFF, "Выдержка", Line("Выдержка", "<", "10")},
      {151, 10, 0xFFFF, "Выдержка", ""},
      {102, 3, 0xFFFF, "Направленность", Line("Направленность", ">", "назад")},
      {152, 2, 0xFFFF, "Направленность", ""},
      {104, 0xFFFF, 0xFFFF, "Пуск", ""},       // a bit set takes any word
      {101, 0x0001, 0x0001, "Выдержка", ""},   // a masked bit: the rest is the device's
      {500, 65535, 0xFFFF, "500", ""},         // nothing describes register 500
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.Reg) + " " + std::to_string(c.Word));
    TWriteBatch batch;
    const TWriteValue v = DescribedWriteValue(Root(), c.Reg, c.Word, c.Mask);
    EXPECT_EQ(v.Name, QString::fromUtf8(c.Name));
    EXPECT_EQ(v.Words, (TRegWrites{{c.Reg, c.Word}}));
    EXPECT_EQ(v.Mask, c.Mask);
    batch.Add(v);
    EXPECT_EQ(batch.LimitReport(), c.Report);
  }
}

// A register described by bits is compared on the bits its descriptor
// names: a bit set's named positions, a bit register's named bits of that
// word (an empty name or one beginning with "-" names none); any other
// register on every bit.
TEST(WriteGate, ARegisterDescribedByBitsIsComparedOnItsNamedBits) {
  const auto named = [](int Count, std::initializer_list<int> Unnamed) {
    QString xml;
    for (int b = 0; b < Count; ++b)
      xml += QString("<string><ider>%1</ider><value>%2</value></string>")
                 .arg(b)
                 .arg(std::find(Unnamed.begin(), Unnamed.end(), b) != Unnamed.end() ? (b % 2 ? "-" : "")
                                                                                     : QString("b%1").arg(b));
    return xml;
  };
  IXXMLDocument d = NewXMLDocument();
  ASSERT_TRUE(d->LoadXML("<device-descriptor><param><input-output><param-bitreg><mreg>20</mreg>"
                         "<modbus-acc>3</modbus-acc>" + named(19, {1, 2}) + "</param-bitreg></input-output>"
                         "<param-num><mreg>31</mreg><modbus-acc>3</modbus-acc><string>Адрес</string></param-num>"
                         "</param><ustav><ustav-enum><record-type>53</record-type><modbus-acc>3</modbus-acc>"
                         "<string>Пуск</string>" + named(6, {3}) + "<mreg>104</mreg><mreg>154</mreg></ustav-enum>"
                         "</ustav></device-descriptor>"));
  const IXXMLNode root = d->GetDocumentElement();
  const struct {
    uint16_t Reg;
    uint16_t Compared;
  } cases[] = {
      {20, 0xFFF9},  // bits 1 and 2 unnamed
      {21, 0x0007},  // bits 16..18 in the second word
      {22, 0xFFFF},  // past the bit register
      {104, 0x0037}, // six positions, the fourth unnamed
      {154, 0x0037},
      {31, 0xFFFF},
  };
  for (const auto &c : cases)
    EXPECT_EQ(DescribedWriteValue(root, c.Reg, 0, 0xFFFF).Compared, c.Compared) << c.Reg;
}

TEST(WriteGate, PageValuesReportOneLinePerValueOutsideInBatchOrder) {
  const IXXMLNodeList params = Root()->SelectNodes("param/*");
  const TParamCodec scaled(params->GetItem(0)), mode(params->GetItem(3)), name(params->GetItem(4));
  TUstavList setpoints = BuildUstavList(Root(), false);
  ASSERT_EQ(setpoints.size(), 3u);
  const TUstav &delay = *setpoints[0];

  TWriteBatch batch;
  batch.Add(ParamWriteValue(scaled, scaled.EditWrites("0.5"), "0.5"));
  batch.Add(ParamWriteValue(name, name.EditWrites("ABCD"), "ABCD")); // four characters fill two registers
  batch.Add(ParamWriteValue(name, name.EditWrites("ABCDE"), "ABCDE"));
  batch.Add(ParamWriteValue(mode, mode.EditWrites("1"), "1"));
  batch.Add(UstavWriteValue(delay, 101, 5, false));
  batch.Add(UstavWriteValue(delay, 151, 600, false));
  EXPECT_EQ(batch.LimitReport(), Line("Время возврата", "<", "1.00") + Line("Имя", ">", "4") + Line("Выдержка", "<", "10"));
  EXPECT_EQ(batch.Registers(), (std::vector<uint16_t>{50, 34, 35, 30, 101, 151}));
}

// One rule on every path that checks limits: word-min and word-max in the
// register's own type (a setpoint of a signed measurement is signed), and a
// pair still inverted refused as the descriptor's fault.
TEST(WriteGate, EveryPathReadsInvertedLimitsByOneRule) {
  MultiLingual() = TMultiLingual();
  const QString descriptor =
      "<device-descriptor><measure>"
      "<measure-item><modbus-flash>7</modbus-flash><byte-dopcode>4</byte-dopcode></measure-item>"
      "<measure-item><modbus-flash>8</modbus-flash><byte-dopcode>0</byte-dopcode></measure-item>"
      "</measure><param>"
      "<param-num><mreg>60</mreg><modbus-acc>3</modbus-acc><word-min>500</word-min><word-max>100</word-max>"
      "<string>Порог</string></param-num>"
      "<param-num><mreg>61</mreg><modbus-acc>3</modbus-acc><word-min>65036</word-min><word-max>100</word-max>"
      "<string>Сдвиг</string></param-num>"
      "</param><ustav><group-mreg>110</group-mreg><group-mreg>160</group-mreg>"
      "<ustav-num><record-type>50</record-type><modbus-acc>3</modbus-acc><word-measure-ider>8</word-measure-ider>"
      "<word-min>500</word-min><word-max>100</word-max><string>Уставка</string><mreg>110</mreg><mreg>160</mreg></ustav-num>"
      "<ustav-num><record-type>50</record-type><modbus-acc>3</modbus-acc><word-measure-ider>7</word-measure-ider>"
      "<word-min>65036</word-min><word-max>100</word-max><string>Угол</string><mreg>111</mreg><mreg>161</mreg></ustav-num>"
      "<ustav-num><record-type>50</record-type><modbus-acc>3</modbus-acc><word-measure-ider>7</word-measure-ider>"
      "<word-min>100</word-min><word-max>65036</word-max><string>Наклон</string><mreg>112</mreg><mreg>162</mreg></ustav-num>"
      "</ustav></device-descriptor>";
  IXXMLDocument doc = NewXMLDocument();
  ASSERT_TRUE(doc->LoadXML(descriptor));
  const IXXMLNode root = doc->GetDocumentElement();
  const TUstavSetFile set = ReadUstavSetBytes(("<stored-ustav>" + descriptor + "<modbus/></stored-ustav>").toUtf8(), "s.us");
  // Each path gives the report of one value it writes; nullopt for a register it does not write.
  using TReport = std::optional<QString>;
  const auto report = [](const TWriteValue &V) {
    TWriteBatch batch;
    batch.Add(V);
    return TReport(batch.LimitReport());
  };
  const auto setpoint = [&](const IXXMLNode &Root, uint16_t Reg, uint16_t Word, bool EditMode) -> TReport {
    for (const auto &u : BuildUstavList(Root, false))
      if (u->Reg(0) == Reg)
        return EditMode ? TReport(u->LimitLine(Word, false)) : report(UstavWriteValue(*u, Reg, Word, false));
    return std::nullopt;
  };
  const std::pair<const char *, std::function<TReport(uint16_t Reg, uint16_t Word)>> paths[] = {
      {"parameters page",
       [&](uint16_t Reg, uint16_t Word) -> TReport {
         const IXXMLNode n = root->SelectSingleNode(QString("param/*[mreg=%1]").arg(Reg));
         return n ? report(ParamWriteValue(TParamCodec(n), {{Reg, Word}})) : std::nullopt;
       }},
      {"setpoints page", [&](uint16_t Reg, uint16_t Word) { return setpoint(root, Reg, Word, false); }},
      {"setpoints edit mode", [&](uint16_t Reg, uint16_t Word) { return setpoint(root, Reg, Word, true); }},
      {"set file", [&](uint16_t Reg, uint16_t Word) { return setpoint(set.Descriptor, Reg, Word, false); }},
      {"bound control", [&](uint16_t Reg, uint16_t Word) { return report(DescribedWriteValue(root, Reg, Word)); }},
  };
  const auto fault = [](const char *Name, const char *Min, const char *Max) {
    return QString("\r\nПомилка \"%1\" ошибка дескриптора: нижний предел %2 больше верхнего %3")
        .arg(QString::fromUtf8(Name), Min, Max);
  };
  const struct {
    uint16_t Reg, Word;
    QString Report;
  } cases[] = {
      {60, 300, fault("Порог", "500", "100")},
      {60, 50, fault("Порог", "500", "100")},
      {61, 65500, fault("Сдвиг", "65036", "100")}, // a parameter's word is unsigned
      {110, 300, fault("Уставка", "500", "100")},
      {111, 65500, ""},                            // -36 within -500..100
      {111, 200, Line("Угол", ">", "100")},
      {111, 65000, Line("Угол", "<", "-500")},
      {112, 0, fault("Наклон", "100", "-500")},    // inverted in its own type as well
  };
  for (const auto &[name, path] : paths)
    for (const auto &c : cases) {
      SCOPED_TRACE(std::string(name) + " " + std::to_string(c.Reg) + " " + std::to_string(c.Word));
      if (const TReport r = path(c.Reg, c.Word))
        EXPECT_EQ(*r, c.Report);
    }
}

TEST(WriteGate, ThePartialWriteTextNamesWhatDidNotGo) {
  MultiLingual() = TMultiLingual();
  EXPECT_EQ(PartialWriteText(1, 3, {"Выдержка", "Направленность"}),
            "Ошибка записи: записано 1 из 3, не записаны: Выдержка, Направленность");
  // The failure's reason follows, as the relay's answer told it.
  EXPECT_EQ(PartialWriteText(0, 1, {"Выдержка"}, "Ошибка устройства 06"),
            "Ошибка записи: записано 0 из 1, не записаны: Выдержка; Ошибка устройства 06");
}

namespace {
TWriteValue Value(const char *Name, TRegWrites Words, uint16_t Mask = 0xFFFF, uint16_t Compared = 0xFFFF) {
  TWriteValue v;
  v.Limit.Kind = QByteArray(Name) == "Имя" ? TWriteLimit::Text : TWriteLimit::None;
  v.Name = QString::fromUtf8(Name);
  v.Words = std::move(Words);
  v.Mask = Mask;
  v.Compared = Compared;
  return v;
}

// Value alone in Batch and its Plan, at Stage, Sent as given and Back found
// by the read-back: the track its outcome is told from.
TWriteTrack OneWrite(TWriteBatch &Batch, std::vector<TPlannedWrite> &Plan, const TWriteValue &Value, TWriteStage Stage,
                     const TRegWrites &Sent, const TRegWords &Back) {
  Batch.Add(Value);
  Plan = PlanWrites(Batch);
  TWriteTrack track;
  track.Stages = {Stage};
  track.Sent = {Sent};
  track.Back = Back;
  return track;
}
TWriteBatch BatchOf(std::initializer_list<TWriteValue> Values) {
  TWriteBatch b;
  for (const TWriteValue &v : Values)
    b.Add(v);
  return b;
}
} // namespace

// The bit rows of one word go as one masked write, at the place of the
// first: each row's bit as the row says, the other bits the relay's.
TEST(WriteGate, TheBitRowsOfOneWordGoAsOneMaskedWrite) {
  const struct {
    const char *Name;
    TWriteBatch Batch;
    std::vector<TPlannedWrite> Plan;
  } cases[] = {
      {"two bits of one word", BatchOf({Value("a", {{104, 0x0001}}, 0x0001), Value("b", {{104, 0x0000}}, 0x0004)}),
       {{{{104, 0x0001}}, 0x0005, {0, 1}}}},
      {"other words between", BatchOf({Value("a", {{104, 0x0002}}, 0x0002), Value("n", {{101, 450}}),
                                       Value("b", {{154, 0x0008}}, 0x0008), Value("c", {{104, 0xFFFF}}, 0x0010)}),
       {{{{104, 0x0012}}, 0x0012, {0, 3}}, {{{101, 450}}, 0xFFFF, {1}}, {{{154, 0x0008}}, 0x0008, {2}}}},
      {"a later row of the same bit wins", BatchOf({Value("a", {{104, 1}}, 1), Value("b", {{104, 0}}, 1)}),
       {{{{104, 0}}, 0x0001, {0, 1}}}},
      {"whole words are never merged", BatchOf({Value("n", {{101, 1}}), Value("m", {{101, 2}})}),
       {{{{101, 1}}, 0xFFFF, {0}}, {{{101, 2}}, 0xFFFF, {1}}}},
      {"a text's words go together", BatchOf({Value("t", {{34, 0x4142}, {35, 0}})}),
       {{{{34, 0x4142}, {35, 0}}, 0xFFFF, {0}}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    const std::vector<TPlannedWrite> plan = PlanWrites(c.Batch);
    ASSERT_EQ(plan.size(), c.Plan.size());
    for (size_t k = 0; k < plan.size(); ++k) {
      EXPECT_EQ(plan[k].Words, c.Plan[k].Words) << k;
      EXPECT_EQ(plan[k].Mask, c.Plan[k].Mask) << k;
      EXPECT_EQ(plan[k].Values, c.Plan[k].Values) << k;
    }
  }
}

// What the read-back holds is compared with what went: a masked write on its
// mask, a register described by bits on its named bits, a text by its
// characters as the page reads them, a scaled number as the word sent. A
// value not kept is named with both.
TEST(WriteGate, TheReadBackIsComparedOnTheBitsEachValueWasWrittenFor) {
  MultiLingual() = TMultiLingual();
  const struct {
    const char *Name;
    TWriteValue Value;
    TRegWrites Sent;
    TRegWords Found;
    QString NotKept; // "" when kept
  } cases[] = {
      {"a word kept", Value("Адрес", {{31, 17}}), {{31, 17}}, {{31, 17}}, ""},
      {"a scaled number clamped", Value("Время", {{50, 700}}), {{50, 700}}, {{50, 500}},
       "Не сохранено устройством: Время: записано 700, в устройстве 500"},
      {"a masked bit kept, another bit changed since", Value("Бит", {{104, 0x0004}}, 0x0004), {{104, 0x0005}},
       {{104, 0x0006}}, ""},
      {"a masked bit not kept", Value("Бит", {{104, 0x0004}}, 0x0004), {{104, 0x0005}}, {{104, 0x0001}},
       "Не сохранено устройством: Бит: записано 5, в устройстве 1"},
      {"bits the descriptor does not name", Value("Набор", {{104, 0x00FF}}, 0xFFFF, 0x000F), {{104, 0x00FF}},
       {{104, 0x000F}}, ""},
      {"a named bit lost", Value("Набор", {{104, 0x00FF}}, 0xFFFF, 0x000F), {{104, 0x00FF}}, {{104, 0x00F7}},
       "Не сохранено устройством: Набор: записано 255, в устройстве 247"},
      // A text goes first character low and is read first character high; a
      // relay may keep it either way.
      {"a text kept", Value("Имя", {{34, 0x4241}, {35, 0x0043}}), {{34, 0x4241}, {35, 0x0043}},
       {{34, 0x4142}, {35, 0x4300}}, ""},
      {"a text's last character not kept", Value("Имя", {{34, 0x4241}, {35, 0x0043}}), {{34, 0x4241}, {35, 0x0043}},
       {{34, 0x4142}, {35, 0}}, "Не сохранено устройством: Имя: записано 16961 67, в устройстве 16706 0"},
      {"a text held word for word as sent", Value("Имя", {{34, 0x4241}, {35, 0}}), {{34, 0x4241}, {35, 0}},
       {{34, 0x4241}, {35, 0}}, ""},
      {"a text neither way", Value("Имя", {{34, 0x4241}, {35, 0}}), {{34, 0x4241}, {35, 0}}, {{34, 0x4141}, {35, 0}},
       "Не сохранено устройством: Имя: записано 16961 0, в устройстве 16705 0"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TWriteBatch batch;
    std::vector<TPlannedWrite> plan;
    TWriteTrack track = OneWrite(batch, plan, c.Value, TWriteStage::Answered, c.Sent, c.Found);
    const std::vector<TValueOutcome> outcomes = ValueOutcomes(batch, plan, track);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].Fate, c.NotKept.isEmpty() ? TWriteFate::Kept : TWriteFate::NotKept);
    EXPECT_EQ(NotKeptReport(batch, plan, track, outcomes), c.NotKept);
    // A command is not compared, read back or not.
    track.Compare = false;
    EXPECT_EQ(ValueOutcomes(batch, plan, track)[0].Fate, TWriteFate::Kept);
    track.Back.reset();
    EXPECT_EQ(ValueOutcomes(batch, plan, track)[0].Fate, TWriteFate::Kept);
  }
}

// Every value of a write is told its fate, and a write that stopped short
// says what went, what may have gone and what did not.
TEST(WriteGate, EveryValueIsToldItsFate) {
  MultiLingual() = TMultiLingual();
  using S = TWriteStage;
  using F = TWriteFate;
  // a and b are bits of one word (one write), c and d words of their own.
  const TWriteBatch batch = BatchOf({Value("a", {{104, 1}}, 1), Value("c", {{101, 7}}), Value("b", {{104, 2}}, 2),
                                     Value("d", {{102, 9}})});
  const QString a = "a", b = "b", c = "c", d = "d";
  const struct {
    const char *Name;
    std::vector<S> Stages;
    bool Refused;
    std::optional<TRegWords> Back;
    std::vector<F> Fates; // batch order
    QString Short;        // the report had the write stopped there; "": it ended whole
  } cases[] = {
      {"all kept", {S::Answered, S::Answered, S::Answered}, false, TRegWords{{104, 3}, {101, 7}, {102, 9}},
       {F::Kept, F::Kept, F::Kept, F::Kept}, ""},
      {"one bit of the word not kept", {S::Answered, S::Answered, S::Answered}, false,
       TRegWords{{104, 1}, {101, 7}, {102, 9}}, {F::Kept, F::Kept, F::NotKept, F::Kept}, ""},
      {"refused at the second write", {S::Answered, S::Sent, S::Pending}, true, TRegWords{{104, 3}, {101, 0}},
       {F::Kept, F::NotSent, F::Kept, F::NotSent}, PartialWriteText(2, 4, {c, d}, "Ошибка устройства 04")},
      {"no answer to the first write", {S::Sent, S::Pending, S::Pending}, false, std::nullopt,
       {F::Unanswered, F::NotSent, F::Unanswered, F::NotSent},
       UnansweredWriteText("a, b") + "; " + PartialWriteText(0, 4, {c, d})},
      {"the last write unanswered", {S::Answered, S::Answered, S::Sent}, false, std::nullopt,
       {F::Unconfirmed, F::Unconfirmed, F::Unconfirmed, F::Unanswered},
       UnansweredWriteText(d) + "; записано, не подтверждено: a, c, b"},
      // Answered, and then the read-back failed or was not made: written, not
      // confirmed, never "not written", and no empty list.
      {"the read-back failed", {S::Answered, S::Answered, S::Answered}, false, std::nullopt,
       {F::Unconfirmed, F::Unconfirmed, F::Unconfirmed, F::Unconfirmed}, "записано, не подтверждено: a, c, b, d; x"},
      {"the read-back lacks a register", {S::Answered, S::Answered, S::Answered}, false,
       TRegWords{{104, 3}, {101, 7}}, {F::Kept, F::Kept, F::Kept, F::Unconfirmed}, "записано, не подтверждено: d; x"},
      {"refused at the second write, not read back", {S::Answered, S::Sent, S::Pending}, true, std::nullopt,
       {F::Unconfirmed, F::NotSent, F::Unconfirmed, F::NotSent},
       "Ошибка записи: записано 2 из 4, не записаны: c, d; Ошибка устройства 04; записано, не подтверждено: a, b"},
      {"held ones stay held unread", {S::Held, S::Answered, S::Held}, false, std::nullopt,
       {F::Held, F::Unconfirmed, F::Held, F::Held}, "записано, не подтверждено: c; x"},
      {"every value kept, the chain cut after", {S::Answered, S::Answered, S::Answered}, false,
       TRegWords{{104, 3}, {101, 7}, {102, 9}}, {F::Kept, F::Kept, F::Kept, F::Kept},
       "Ошибка записи: записано 4 из 4; x"},
      {"the relay held the word already", {S::Held, S::Answered, S::Answered}, false,
       TRegWords{{104, 3}, {101, 7}, {102, 9}}, {F::Held, F::Kept, F::Held, F::Kept}, ""},
      {"held before the check, lost since", {S::Held, S::Answered, S::Held}, false,
       TRegWords{{104, 0}, {101, 7}, {102, 9}}, {F::NotKept, F::Kept, F::NotKept, F::Held}, ""},
      {"refused at the check", {S::Pending, S::Pending, S::Pending}, false, std::nullopt,
       {F::NotSent, F::NotSent, F::NotSent, F::NotSent}, PartialWriteText(0, 4, {a, c, b, d}, "x")},
      // "Прервать" dropped the second write's answer; the read-back after it
      // finds the value held: it went, and is not called unanswered.
      {"aborted after a write the read-back confirms", {S::Answered, S::Sent, S::Pending}, false,
       TRegWords{{104, 3}, {101, 7}, {102, 0}}, {F::Kept, F::Kept, F::Kept, F::NotSent},
       PartialWriteText(3, 4, {d}, "x")},
      {"aborted after a write the read-back does not find", {S::Answered, S::Sent, S::Pending}, false,
       TRegWords{{104, 3}, {101, 0}, {102, 0}}, {F::Kept, F::Unanswered, F::Kept, F::NotSent},
       UnansweredWriteText(c) + "; " + PartialWriteText(2, 4, {d})},
  };
  for (const auto &cs : cases) {
    SCOPED_TRACE(cs.Name);
    const std::vector<TPlannedWrite> plan = PlanWrites(batch);
    ASSERT_EQ(plan.size(), 3u);
    TWriteTrack track;
    track.Stages = cs.Stages;
    track.Sent.resize(plan.size());
    track.Refused = cs.Refused;
    track.Back = cs.Back;
    std::vector<F> fates;
    for (const TValueOutcome &o : ValueOutcomes(batch, plan, track))
      fates.push_back(o.Fate);
    EXPECT_EQ(fates, cs.Fates);
    const QString reason = cs.Refused ? "Ошибка устройства 04" : "x";
    if (!cs.Short.isEmpty())
      EXPECT_EQ(ShortWriteReport(ValueOutcomes(batch, plan, track), reason), cs.Short);
  }
}

// A value not kept is told in its page's units; one found held and never
// sent, otherwise at the read-back, was not written and is never said so.
TEST(WriteGate, ANotKeptValueIsToldAsItsPageShowsIt) {
  MultiLingual() = TMultiLingual();
  // The texts go through the device's character map, as the run-time descriptor loads it.
  SetCharMap(BuiltInCharMap());
  const IXXMLNodeList params = Root()->SelectNodes("param/*");
  const TParamCodec scaled(params->GetItem(0)), mode(params->GetItem(3)), name(params->GetItem(4));
  TUstavList setpoints = BuildUstavList(Root(), false);
  const struct {
    const char *Name;
    TWriteValue Value;
    TWriteStage Stage;
    TRegWords Found;
    const char *Report;
  } cases[] = {
      {"a scaled parameter", ParamWriteValue(scaled, {{50, 730}}), TWriteStage::Answered, {{50, 700}},
       "Не сохранено устройством: Время возврата: записано 7.30, в устройстве 7.00"},
      {"a listed parameter", ParamWriteValue(mode, {{30, 1}}), TWriteStage::Answered, {{30, 0}},
       "Не сохранено устройством: Режим: записано Введен, в устройстве Выведен"},
      {"a listed setpoint", UstavWriteValue(*setpoints[1], 102, 2, false), TWriteStage::Answered, {{102, 1}},
       "Не сохранено устройством: Направленность: записано назад, в устройстве вперед"},
      {"a bound control's parameter", DescribedWriteValue(Root(), 50, 730), TWriteStage::Answered, {{50, 700}},
       "Не сохранено устройством: Время возврата: записано 7.30, в устройстве 7.00"},
      {"a word past its list", ParamWriteValue(mode, {{30, 1}}), TWriteStage::Answered, {{30, 7}},
       "Не сохранено устройством: Режим: записано Введен, в устройстве 7"},
      {"held, never sent, changed since", ParamWriteValue(scaled, {{50, 730}}), TWriteStage::Held, {{50, 700}},
       "Не сохранено устройством: Время возврата: в устройстве 7.00"},
      // A text goes with its first character in the low byte of each word
      // and is read back with it in the high byte: written as it was typed.
      {"a text", ParamWriteValue(name, {{34, 0x3231}, {35, 0x3320}}, "12 3"), TWriteStage::Answered,
       {{34, 0x3536}, {35, 0}}, "Не сохранено устройством: Имя: записано 12 3, в устройстве 56"},
      {"a text of an odd length", ParamWriteValue(name, {{34, 0x3231}, {35, 0x0033}}, "123"),
       TWriteStage::Answered, {{34, 0x3132}, {35, 0}}, "Не сохранено устройством: Имя: записано 123, в устройстве 12"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    TWriteBatch batch;
    std::vector<TPlannedWrite> plan;
    TWriteTrack track = OneWrite(batch, plan, c.Value, c.Stage,
                                 c.Stage == TWriteStage::Held ? TRegWrites() : c.Value.Words, c.Found);
    const std::vector<TValueOutcome> outcomes = ValueOutcomes(batch, plan, track);
    EXPECT_EQ(outcomes[0].Fate, TWriteFate::NotKept);
    EXPECT_EQ(NotKeptReport(batch, plan, track, outcomes).toStdString(), c.Report);
  }
}
