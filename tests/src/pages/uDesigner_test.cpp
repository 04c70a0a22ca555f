// The control placer, the board designer and the property editor, offscreen.
#include "uControlPlacer.h"
#include "../../common/uErrorOf.h"
#include "uControls.h"
#include "uDeviceBoardFrame.h"
#include "uDeviceboardSetup.h"
#include "uErrors.h"
#include "uPropertyFormX.h"
#include "uSimpleDeviceDescriptor.h"

#include <QComboBox>
#include <QTableWidget>
#include <QListWidget>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {
std::unique_ptr<TSimpleDeviceDescriptor> Descriptor() {
  auto d = std::make_unique<TSimpleDeviceDescriptor>();
  d->Document = NewXMLDocument();
  d->Document->LoadXML(
      "<device-descriptor><measure>"
      "<measure-item><modbus-acc>1</modbus-acc><string>Ток A</string><mreg>200</mreg></measure-item>"
      "<measure-item><modbus-acc>1</modbus-acc><string>Ток B</string><mreg>201</mreg></measure-item></measure>"
      "<ustav><ustav-level><string><ider>1</ider><value>МТЗ</value></string>"
      "<string><ider>2</ider><value>ЗМН</value></string></ustav-level>"
      "<ustav-num><modbus-acc>3</modbus-acc><string>Ток "
      "МТЗ</string><byte-level-mask>1</byte-level-mask><mreg>100</mreg></ustav-num>"
      "<ustav-num><modbus-acc>3</modbus-acc><string>Напряжение</string><byte-level-mask>2</byte-level-mask><mreg>101</"
      "mreg></ustav-num>"
      "</ustav></device-descriptor>");
  d->Root = d->Document->GetDocumentElement();
  return d;
}

// A board page with one empty board, chosen (its file is missing: an empty document).
void AddBoard(TkvDeviceBoardFrame &Page, const QTemporaryDir &Dir, TSimpleDeviceDescriptor *Desc) {
  Page.SetDescriptor(Desc);
  Page.Init(Dir.filePath("deviceFrame.xml"));
  Page.ActionAdd->trigger();
  Page.ListBox->setCurrentRow(0);
}

void Press(QWidget *W, QEvent::Type Type, const QPoint &Local, Qt::MouseButtons Buttons) {
  QMouseEvent e(Type, Local, W->mapToGlobal(Local), Type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, Buttons,
                Qt::NoModifier);
  QCoreApplication::sendEvent(W, &e);
}
} // namespace

TEST(ControlPlacer, HandlesAndResizeRule) {
  const QRect b(10, 20, 41, 31);
  EXPECT_EQ(NodePosition(4, b), QPoint(49, 49));
  EXPECT_EQ(NodePosition(5, b), QPoint(28, 49));
  EXPECT_EQ(NodePosition(0, b), QPoint(8, 18));
  EXPECT_EQ(ResizeBounds(1, b, QPoint(99, 5)), QRect(10, 5, 41, 46));  // the top edge only
  EXPECT_EQ(ResizeBounds(6, b, QPoint(0, 60)), QRect(0, 20, 51, 40));  // left and bottom
  EXPECT_EQ(ResizeBounds(3, b, QPoint(70, 0)), QRect(10, 20, 60, 31)); // right only
}

TEST(Designer, PlacesMovesEditsAndAppliesABoard) {
  QTemporaryDir dir;
  auto desc = Descriptor();
  TkvDeviceBoardFrame page;
  AddBoard(page, dir, desc.get());

  TDeviceboardSetupForm designer;
  TPropertyForm props;
  TPropertyDialogs answers;
  answers.Color = [](int &Color) {
    Color = 0x00FF00;
    return true;
  };
  props.SetDialogs(answers);
  designer.SetPropertyForm(&props);
  designer.SetDescriptor(desc.get());
  designer.LoadFrom(page.Panel);

  // A tool press on the surface places the control there; the tool returns to selection.
  designer.ChooseTool("apMeasure");
  Press(designer.PanelContainer, QEvent::MouseButtonPress, QPoint(40, 50), Qt::LeftButton);
  ASSERT_EQ(ControlsOf(designer.PanelContainer, false).size(), 1);
  auto *m = qobject_cast<TMeasureLabeledEdit *>(ControlsOf(designer.PanelContainer, false)[0]);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->pos(), QPoint(40, 50));
  EXPECT_TRUE(designer.NextClass().isEmpty());

  // A press selects it for the property editor; a drag moves it.
  QTest::mousePress(m, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  Press(m, QEvent::MouseMove, QPoint(25, 15), Qt::LeftButton);
  QTest::mouseRelease(m, Qt::LeftButton, Qt::NoModifier, QPoint(25, 15));
  EXPECT_EQ(m->pos(), QPoint(60, 60));
  EXPECT_EQ(designer.Selected(), m);
  ASSERT_EQ(props.Control(), m);
  props.SetEditText(props.RowOf("mreg"), "Ток B");
  EXPECT_EQ(m->mreg(), 201);
  EXPECT_EQ(props.ValueText(props.RowOf("EditLabelCaption")), "Ток B"); // refreshed through depend
  props.EditButtonClick(props.RowOf("Color"));
  EXPECT_EQ(m->Color(), 0x00FF00);
  EXPECT_EQ(props.ValueText(props.RowOf("Color")), "0000FF00");

  // A tool press on a control that is no plain group box places nothing.
  designer.ChooseTool("apLabel");
  Press(m, QEvent::MouseButtonPress, QPoint(2, 2), Qt::LeftButton);
  EXPECT_EQ(ControlsOf(designer.PanelContainer, true).size(), 1);
  EXPECT_EQ(designer.NextClass(), "TLabelA");

  designer.ApplyTo(page.Panel);
  page.BindControls();
  page.Save(QString());
  TkvDeviceBoardFrame again;
  again.SetDescriptor(desc.get());
  again.Init(dir.filePath("deviceFrame.xml"));
  const QList<QWidget *> shown = ControlsOf(again.Panel, false);
  ASSERT_EQ(shown.size(), 1);
  auto *back = qobject_cast<TMeasureLabeledEdit *>(shown[0]);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->mreg(), 201);
  EXPECT_EQ(back->Color(), 0x00FF00);
  EXPECT_EQ(back->pos(), QPoint(60, 60));
}

TEST(Designer, SetpointLevelRefreshesItsNumberRowAndTheTableIsChecked) {
  auto desc = Descriptor();
  QWidget surface;
  auto *u = static_cast<TUstavPanel *>(CreateControl(&surface, "TUstavPanel"));
  u->SetDeviceDescriptor(desc.get());
  TPropertyForm props;
  props.SetControl(u);
  auto *idxList = qobject_cast<QComboBox *>(props.vle->cellWidget(props.RowOf("idx"), 1));
  ASSERT_TRUE(idxList);
  EXPECT_EQ(idxList->count(), 2);
  props.SetEditText(props.RowOf("level"), "ЗМН");
  EXPECT_EQ(u->level(), 2);
  idxList = qobject_cast<QComboBox *>(props.vle->cellWidget(props.RowOf("idx"), 1));
  ASSERT_TRUE(idxList);
  EXPECT_EQ(idxList->count(), 1);
  EXPECT_EQ(idxList->itemText(0), "Напряжение");
  EXPECT_EQ(props.RowOf("EditLabel"), -1);

  QWidget plain;
  EXPECT_THROW(props.SetControl(&plain), EKvAssert);
  EXPECT_EQ(ErrorOf([&] { props.SetControl(&plain); }), "unknown control QWidget");
  EXPECT_EQ(ErrorOf([] {
              TPropertyForm bad(nullptr, "<document><object class=\"TLabelA\"><property name=\"Color\" "
                                         "dialog=\"TPenDialog\"/></object></document>");
            }),
            "invalid dialog TPenDialog");
}

TEST(Designer, SurfaceHoldsEveryControlDraggedPastItsEdges) {
  QTemporaryDir dir;
  auto desc = Descriptor();
  TkvDeviceBoardFrame page;
  AddBoard(page, dir, desc.get());
  TDeviceboardSetupForm designer;
  designer.SetDescriptor(desc.get());
  designer.LoadFrom(page.Panel);
  designer.show(); // a hidden control reports no moves
  designer.ChooseTool("apLabel");
  Press(designer.PanelContainer, QEvent::MouseButtonPress, QPoint(40, 50), Qt::LeftButton);
  QWidget *label = ControlsOf(designer.PanelContainer, false).value(0);
  ASSERT_TRUE(label);
  EXPECT_EQ(designer.PanelContainer->size(), QSize(800, 500).expandedTo(page.Panel->size()));
  // Dragged by (dx, dy) from where the last drag left it.
  const struct {
    QPoint By, Expected;
  } drags[] = {
      {{0, 900}, {40, 950}},    // below the surface: it grows
      {{1200, 0}, {1240, 950}}, // past the right edge
      {{-2000, -2000}, {0, 0}}, // above and left: stops at the edge
  };
  for (const auto &d : drags) {
    QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    Press(label, QEvent::MouseMove, QPoint(2, 2) + d.By, Qt::LeftButton);
    QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2) + d.By);
    EXPECT_EQ(label->pos(), d.Expected);
    EXPECT_TRUE(designer.PanelContainer->rect().contains(label->geometry())) << d.By.x() << "," << d.By.y();
  }
  // Loaded again with the control far down, the surface shows it from the start.
  label->move(30, 1500);
  designer.ApplyTo(page.Panel);
  TDeviceboardSetupForm again;
  again.LoadFrom(page.Panel);
  const QWidget *back = ControlsOf(again.PanelContainer, false).value(0);
  ASSERT_TRUE(back);
  EXPECT_TRUE(again.PanelContainer->rect().contains(back->geometry()));
}

TEST(Designer, PropertyEditorIsEmptyUntilAControlIsPicked) {
  QTemporaryDir dir;
  auto desc = Descriptor();
  TkvDeviceBoardFrame page;
  AddBoard(page, dir, desc.get());
  TDeviceboardSetupForm first, second;
  TPropertyForm props; // docked into a designer: it goes first
  for (TDeviceboardSetupForm *d : {&first, &second}) {
    d->SetPropertyForm(&props);
    d->SetDescriptor(desc.get());
  }
  first.LoadFrom(page.Panel);
  first.ChooseTool("apLabel");
  Press(first.PanelContainer, QEvent::MouseButtonPress, QPoint(40, 50), Qt::LeftButton);
  QWidget *label = ControlsOf(first.PanelContainer, false).value(0);
  ASSERT_TRUE(label);
  QTest::mouseClick(label, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
  ASSERT_EQ(props.Control(), label);
  EXPECT_GT(props.vle->rowCount(), 0);
  first.hide();
  // The other designer opens: nothing picked there, nothing shown.
  second.LoadFrom(page.Panel);
  second.show();
  EXPECT_EQ(props.Control(), nullptr);
  EXPECT_EQ(props.vle->rowCount(), 0);
  EXPECT_EQ(props.windowTitle(), "Свойства");
}

TEST(PropertyForm, ColourSwatchStandsAtTheRightEndOfTheKeyCell) {
  QWidget surface;
  auto *label = CreateControl(&surface, "TLabelA");
  auto *a = qobject_cast<TLabelA *>(label);
  ASSERT_TRUE(a);
  a->SetColor(0x0000FF); // red, in the device's byte order
  TPropertyForm props;
  props.resize(400, 300);
  props.SetControl(label);
  const int row = props.RowOf("Color");
  ASSERT_GE(row, 0);
  props.show();
  const QImage shot = props.vle->viewport()->grab().toImage();
  const QRect cell = props.vle->visualRect(props.vle->model()->index(row, 0));
  const QPoint right(cell.right() - 2, cell.center().y()), left(cell.left() + 2, cell.center().y());
  EXPECT_EQ(shot.pixelColor(right), QColor(Qt::red));
  EXPECT_NE(shot.pixelColor(left), QColor(Qt::red));
  EXPECT_TRUE(props.vle->item(row, 0)->icon().isNull());
}
