// A setpoint panel's binding: a bit set's panel stands for one bit of it,
// and a list bound again keeps the value it shows.
#include "uControls.h"
#include "uSimpleDeviceDescriptor.h"

#include <QComboBox>
#include <QLabel>
#include <gtest/gtest.h>

namespace {
// A list setpoint (idx 0) and a bit set of two named bits (idx 1).
std::unique_ptr<TSimpleDeviceDescriptor> Relay() {
  auto d = std::make_unique<TSimpleDeviceDescriptor>();
  d->Document = NewXMLDocument();
  d->Document->LoadXML(QString::fromUtf8(
      "<device-descriptor><ustav><ustav-enum><mreg>100</mreg><record-type>49</record-type>"
      "<modbus-acc>3</modbus-acc><string>Направление</string><string><ider>0</ider><value>нет</value></string>"
      "<string><ider>1</ider><value>вперед</value></string></ustav-enum>"
      "<ustav-enum><mreg>101</mreg><record-type>53</record-type><modbus-acc>3</modbus-acc><string>Блокировки</string>"
      "<string><ider>0</ider><value>Блок 1</value></string><string><ider>1</ider><value>Блок 2</value></string>"
      "</ustav-enum></ustav></device-descriptor>"));
  d->Root = d->Document->GetDocumentElement();
  return d;
}
} // namespace

// Bound as a page binds it (idx, then bit) with a write handler attached
// anyway: what it shows, what a save keeps, what it offers the designer and
// what a choice of "Да" (item 1) writes.
TEST(UstavPanel, ABitSetsPanelStandsForOneBitOrForNothingWritable) {
  const auto relay = Relay();
  const struct {
    int Idx, Bit;
    const char *Shows; // caption|enabled|bound|bit names offered
    const char *Writes;
  } rows[] = {
      {1, -1, "мой|off|unbound|Блок 1,Блок 2", ""},
      {1, 16, "мой|off|unbound|Блок 1,Блок 2", ""},
      {1, 1, "Блокировки - Блок 2|on|bound|Блок 1,Блок 2", "1 2 2"},
      {1, 0, "Блокировки - Блок 1|on|bound|Блок 1,Блок 2", "1 1 1"},
      {0, -1, "Направление|on|bound|", "0 1 65535"}, // a list keeps its whole word
  };
  for (const auto &r : rows) {
    SCOPED_TRACE(std::to_string(r.Idx) + " " + std::to_string(r.Bit));
    TUstavPanel panel;
    panel.SetLabelCaption("мой");
    panel.SetDeviceDescriptor(relay.get());
    panel.setIdx(r.Idx);
    panel.setBit(r.Bit);
    QStringList offered;
    for (const auto &b : panel.bitselector())
      offered << b.Text;
    EXPECT_EQ(QStringList({panel.Label()->text(), panel.isEnabled() ? "on" : "off",
                           panel.IsBound() ? "bound" : "unbound", offered.join(",")})
                  .join("|")
                  .toStdString(),
              r.Shows);
    EXPECT_EQ(panel.LabelCaption().toStdString(), panel.IsBound() ? panel.Label()->text().toStdString() : "мой");
    QString written;
    panel.SetOnChange([&](uint16_t Reg, uint16_t Value, uint16_t Mask) {
      written = QString("%1 %2 %3").arg(Reg).arg(Value).arg(Mask);
    });
    emit panel.List(0)->activated(1);
    EXPECT_EQ(written.toStdString(), r.Writes);
  }
}

// Bound again to the same relay, a list keeps the value it shows; bound to
// items it did not have, it shows none until the relay's value comes.
TEST(UstavPanel, AListBoundAgainKeepsItsValue) {
  const auto relay = Relay();
  TUstavPanel panel;
  panel.SetDeviceDescriptor(relay.get());
  panel.setIdx(0);
  const uint16_t held[] = {1};
  panel.setValue(0, {held, 1});
  ASSERT_EQ(panel.List(0)->currentText().toStdString(), "вперед");
  panel.SetDeviceDescriptor(relay.get());
  panel.setIdx(0);
  panel.setBit(-1);
  EXPECT_EQ(panel.List(0)->currentText().toStdString(), "вперед");
  panel.setIdx(1);
  panel.setBit(0);
  EXPECT_EQ(panel.List(0)->currentIndex(), -1);
}
