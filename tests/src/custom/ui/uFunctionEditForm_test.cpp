#include "uFunctionEditForm.h"

#include "../schema_test_util.h"
#include "uDeviceDescriptor.h"

#include "uMessageSink.h"

#include <QApplication>
#include <QLineEdit>
#include <QTableWidget>
#include <gtest/gtest.h>

namespace {
// A function of two to four inputs, one to three outputs, setpoint rows 0 and
// 1 in alternative group 1, row 2 ungrouped, two switches.
struct TFixture {
  TFunctionDescriptor Func;
  TDeviceDescriptor D;
  TModule Root{nullptr, 1};
  TElement *E;
  TFixture() {
    Func.Id = "f";
    Func.IMin = 2, Func.IMax = 4, Func.OMin = 1, Func.OMax = 3;
    Func.Ustavs = {"Т1 (1)", "Т2 ( 1 )", "Режим", "Маска"};
    Func.Switches = {"a", "b"};
    Func.Params = {"Ia", "Ib"};
    Root.Root = true;
    Root.Caption = "Root";
    E = new TElement(&Root, atDescriptor, 0, 0, nullptr, nullptr, &Func);
    Root.AbstractList.Add(E);
    E->SetPinCounts(2, 3);
    for (int i = 0; i < 3; ++i) {
      E->OutputPins[i]->Caption = QString("o%1").arg(i);
      E->OutputPins[i]->SetEventEdge(uint8_t(i + 1));
    }
  }
  TDDUstav *Ustav(int Kind, int RecordType) {
    TDDUstav *u = D.FUstavs.Add(std::make_unique<TDDUstav>(&D, Kind));
    u->RecordType = RecordType;
    return u;
  }
};
} // namespace

TEST(FunctionEditForm, CountsAreCheckedAndPinRowsFollowThem) {
  TFixture f;
  TFunctionEditState s;
  s.Fill(*f.E, nullptr);
  EXPECT_FALSE(s.InReadOnly);
  EXPECT_TRUE(s.GidReadOnly);
  for (const char *bad : {"", "1", "5", "x"}) {
    s.InCount = bad;
    EXPECT_EQ(ErrorOf([&] { s.Apply(nullptr); }), "invalid input pin count") << bad;
  }
  s.InCount = "2";
  s.OutCount = "4";
  EXPECT_EQ(ErrorOf([&] { s.Check(); }), "invalid output pin count");
  s.SetOutputCount("2");
  ASSERT_EQ(s.Outputs.size(), 2);
  EXPECT_EQ(s.Outputs[1].Name, "o1");
  EXPECT_EQ(s.Outputs[1].Edge, "Задний");
  s.SetOutputCount("3");
  EXPECT_EQ(s.Outputs[2].Title, "Выход 3");
  EXPECT_EQ(s.Outputs[2].Name, "");
  s.SetOutputCount(""); // being typed: nothing changes
  EXPECT_EQ(s.Outputs.size(), 3);
  s.Outputs[0].Event = "Пуск";
  s.SetEdge(0, " ");
  EXPECT_EQ(s.Outputs[0].Event, "Пуск");
  s.SetEdge(0, "");
  EXPECT_EQ(s.Outputs[0].Event, "");
  s.Outputs[1].Edge = "Оба";
  s.SetEvent(1, "");
  EXPECT_EQ(s.Outputs[1].Edge, "");
  s.SetOutputCount("2");
  s.Apply(nullptr);
  EXPECT_EQ(f.E->OutputPins.Count(), 2);
  EXPECT_EQ(f.E->OutputPins[0]->GetEventEdge(), 0);
  EXPECT_EQ(f.E->OutputPins[1]->Caption, "o1");

  TFunctionDescriptor fixed = f.Func;
  fixed.IMin = fixed.IMax = 2;
  f.E->Func = &fixed;
  s.Fill(*f.E, nullptr);
  EXPECT_TRUE(s.InReadOnly);
}

TEST(FunctionEditForm, RefusedGidLeavesTheElementUnchanged) {
  TFixture f;
  auto *sub = new TModule(&f.Root, 0);
  sub->Caption = "Узел";
  f.Root.AbstractList.Add(sub);
  auto *other = new TElement(sub, atDescriptor, 0, 0, nullptr, nullptr, &f.Func);
  sub->AbstractList.Add(other);
  other->Gid = f.E->Gid + 1;
  TFunctionEditState s;
  s.Fill(*f.E, nullptr);
  s.Caption = "новое";
  s.SetInputCount("3");
  s.Gid = QString::number(other->Gid);
  EXPECT_EQ(ErrorOf([&] { s.Apply(nullptr); }), "gid занят, модуль Узел");
  EXPECT_EQ(f.E->Caption, "");
  EXPECT_EQ(f.E->InputPins.Count(), 2);
  // The present gid is no conflict with itself.
  s.Gid = QString::number(f.E->Gid);
  EXPECT_NO_THROW(s.Apply(nullptr));
  EXPECT_EQ(f.E->Caption, "новое");
}

TEST(FunctionEditForm, SetpointRowsWriteBothGroupsAndSwitchMask) {
  TFixture f;
  TDDUstav *en = f.Ustav(TDDUstav::ukEnum, 49), *bit = f.Ustav(TDDUstav::ukEnum, 53);
  TDDUstav *num = f.Ustav(TDDUstav::ukNumeric, 50), *bad = f.Ustav(TDDUstav::ukEnum, 51);
  bit->SetValue(0, 0x8001);
  num->String = "N";
  num->GetNumeric().SecValMin = 5;
  num->GetNumeric().SecValMax = 100;
  TFunctionEditState s;
  s.Fill(*f.E, nullptr);
  // Rows 0 and 1 are alternatives: choosing one drops the other's binding only.
  s.ChooseUstav(0, en);
  s.ChooseUstav(2, bit);
  s.ChooseUstav(1, en);
  EXPECT_EQ(s.Rows[0].Ustav, nullptr);
  s.ChooseUstav(3, num);
  EXPECT_EQ(s.Rows[2].Values[0], IntToBinStr(0x8001, 16));
  EXPECT_EQ(ErrorOf([&] { s.ChooseUstav(0, bad); }), "invalid RecordType 33");
  s.Rows[1].Values = {"2", "3"};
  s.Rows[2].Values = {"1000 0000 0000 0011", "0000 0000 0001 0000"};
  s.Rows[3].Values = {"12", "7"};
  s.Switch = 2;
  s.Apply(nullptr);
  EXPECT_EQ(en->Values, (std::array<uint16_t, 2>{2, 3}));
  EXPECT_EQ(bit->Values, (std::array<uint16_t, 2>{0x8003, 0x0010}));
  EXPECT_EQ(num->Values, (std::array<uint16_t, 2>{12, 7}));
  EXPECT_EQ(f.E->GetRef(2).Ustav, bit);
  EXPECT_EQ(f.E->Switch, 2);
  // A bit text of seventeen digits is refused before anything is written.
  s.Rows[2].Values[1] = "1 0000 0000 0000 0000";
  EXPECT_EQ(ErrorOf([&] { s.Check(); }), QString::fromUtf8("Двоичное значение длиннее 16 разрядов: 1 0000 0000 0000 0000"));
  EXPECT_EQ(ErrorOf([&] { s.Apply(nullptr); }), ErrorOf([&] { s.Check(); }));
  EXPECT_EQ(bit->Values, (std::array<uint16_t, 2>{0x8003, 0x0010}));
  s.Rows[2].Values[1] = "0";
  // So is a number outside the setpoint's limits: the logic would carry it to the relay.
  s.Rows[3].Values = {"101", "5"};
  EXPECT_EQ(ErrorOf([&] { s.Check(); }), QString::fromUtf8("\r\nПомилка \"N\" > 100"));
  EXPECT_EQ(ErrorOf([&] { s.Apply(nullptr); }), ErrorOf([&] { s.Check(); }));
  EXPECT_EQ(num->Values, (std::array<uint16_t, 2>{12, 7}));
  // Inverted limits are the descriptor's fault: no value is taken, unless
  // ustav/limitCheck is off.
  num->GetNumeric().SecValMin = 30000;
  num->GetNumeric().SecValMax = 10;
  s.Rows[3].Values = {"20", "20"};
  EXPECT_EQ(ErrorOf([&] { s.Check(); }),
            QString::fromUtf8("\r\nПомилка \"N\" ошибка дескриптора: нижний предел 30000 больше верхнего 10"));
  s.LimitCheck = false;
  EXPECT_EQ(ErrorOf([&] { s.Check(); }), "no error");
  s.LimitCheck = true;
  // A number text that is none stops before anything is written.
  s.Rows[3].Values[1] = "x";
  s.Rows[1].Values = {"0", "0"};
  EXPECT_NE(ErrorOf([&] { s.Apply(nullptr); }), "no error");
  EXPECT_EQ(en->Values, (std::array<uint16_t, 2>{2, 3}));
}

TEST(FunctionEditForm, BadCountKeepsTheDialogOpenWithTheMessage) {
  int argc = 0;
  QApplication app(argc, nullptr);
  TFixture f;
  QStringList shown;
  const TMessageSink old = SetMessageSink([&](TMsgKind, const QString &Text) {
    shown << Text;
    return TMsgResult::Ok;
  });
  f.E->Params = {"10", "20"};
  TFunctionEditForm form;
  form.SetElement(f.E);
  // The minus button only shrinks the grid: the last value in use goes first.
  for (int press = 0; press < 3; ++press)
    form.SpeedButtonMinusClick();
  EXPECT_EQ(form.StringGridParam->rowCount(), 2);
  EXPECT_EQ(form.StringGridParam->item(0, 1)->text(), "");
  EXPECT_EQ(form.State().ParamCount, 0);
  form.SetColorOpener([](uint32_t &C) {
    C = 0x0000FF;
    return true;
  });
  form.SpeedButtonColorClick();
  form.open();
  form.eIpin->setText("7");
  form.done(QDialog::Accepted);
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(shown, QStringList{"invalid input pin count"});
  EXPECT_EQ(form.StringGrid->rowCount(), 7 + 3);
  form.eIpin->setText("3");
  form.done(QDialog::Accepted);
  EXPECT_FALSE(form.isVisible());
  form.Apply();
  EXPECT_EQ(f.E->InputPins.Count(), 3);
  EXPECT_EQ(f.E->PenColor, 0x0000FFu);
  SetMessageSink(old);
}
