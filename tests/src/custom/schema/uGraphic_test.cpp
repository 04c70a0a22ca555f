#include "uGraphic.h"

#include "../schema_test_util.h"
#include "uErrors.h"
#include "uLinkNode.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

QImage Paint(const TModule &M, int Width = 400, int Height = 300) {
  GuiApp();
  QImage image(Width, Height, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  M.Graphic->PaintModule(p, 0);
  return image;
}

uint32_t At(const QImage &I, int X, int Y) { return I.pixel(X, Y) & 0xFFFFFF; }

constexpr uint32_t Black = 0, White = 0xFFFFFF, Silver = 0xC0C0C0, Red = 0xFF0000;

} // namespace

TEST(SchemaDrawing, OutlinesPinsAndSelection) {
  TModule m(nullptr, 1);
  m.Scale = 20;
  TElement *label = AddElement(m, atLabel, 0, 1, 1);
  EXPECT_EQ(label->Graphic->Shape[2].x() - label->Graphic->Shape[1].x(), 20);
  TElement *block = AddFunction(m, "and", 5, 2);
  block->Caption.clear();
  block->OutputPins[0]->Inverted = true;
  QImage image = Paint(m);
  EXPECT_EQ(At(image, 60, 40), Black); // the tag's point
  EXPECT_EQ(At(image, 62, 40), White);
  EXPECT_EQ(At(image, 55, 24), White); // beside its slanted edge
  const int R = 140, y = 60;            // inverted output pin at (R, y)
  EXPECT_EQ(At(image, R - 7, y - 1), White);
  EXPECT_EQ(At(image, R + 7, y - 1), White);
  EXPECT_TRUE(At(image, R - 5, y - 1) == Black || At(image, R - 4, y - 1) == Black);
  EXPECT_TRUE(At(image, R + 5, y - 1) == Black || At(image, R + 4, y - 1) == Black);
  const int L = 100, row = 110;
  const uint32_t plain[] = {At(image, L - 1, row), At(image, L, row), At(image, L + 1, row), At(image, L + 3, row)};
  EXPECT_EQ(QList<uint32_t>(std::begin(plain), std::end(plain)), QList<uint32_t>({White, Black, White, White}));
  block->Selected = true;
  image = Paint(m);
  const uint32_t selected[] = {At(image, L - 2, row), At(image, L - 1, row), At(image, L, row), At(image, L + 1, row),
                               At(image, L + 3, row)};
  EXPECT_EQ(QList<uint32_t>(std::begin(selected), std::end(selected)),
            QList<uint32_t>({White, Black, Black, Black, Silver}));
}

TEST(SchemaDrawing, ReferenceEventAndCommentStyles) {
  TModule m(nullptr, 1);
  m.Scale = 20;
  TElement *ref = AddElement(m, atLabelRef, 0, 1, 1);
  TElement *label = AddElement(m, atLabel, 0, 1, 6);
  TElement *rs = AddFunction(m, "rs", 8, 1);
  auto blackOnTop = [&](const QImage &I) {
    int n = 0;
    for (int x = 24; x < 56; ++x)
      n += At(I, x, 20) == Black;
    return n;
  };
  QImage image = Paint(m);
  EXPECT_GT(blackOnTop(image), 8);
  EXPECT_LT(blackOnTop(image), 30); // dashed while unbound
  EXPECT_NE(At(image, 198, 22), Red);
  rs->OutputPins[0]->SetEventEdge(1);
  ref->SetLabel(label);
  image = Paint(m);
  EXPECT_EQ(blackOnTop(image), 32);
  EXPECT_EQ(At(image, 198, 22), Red);
  TComment note(nullptr, atComment, 1);
  const struct {
    int Height, Scale, Pixels;
  } fonts[] = {{-11, 21, 11}, {-11, 42, 22}, {-16, 20, 15}};
  for (const auto &f : fonts) {
    note.FontHeight = f.Height;
    EXPECT_EQ(CommentFontPixels(note, f.Scale), f.Pixels);
  }
  EXPECT_THROW(
      {
        QImage i(10, 10, QImage::Format_RGB32);
        QPainter p(&i);
        ref->Graphic->PaintModule(p, 0);
      },
      EKvError);
}

TEST(SchemaDrawing, JunctionDotsAndHitTests) {
  TModule m(nullptr, 1);
  m.Scale = 10;
  auto *a = new TComment(&m, atComment, 0);
  a->SetPinCount(0, 3);
  a->SetRect({8, 0, 10, 6});
  m.AbstractList.Add(a);
  auto *b = new TComment(&m, atComment, 0);
  b->SetPinCount(5, 0);
  b->SetRect({20, 0, 22, 10});
  m.AbstractList.Add(b);
  auto *first = new TLink(&m, a, 2, b, 4, "10,5,15,9,20");
  m.LinkList.Add(first);
  EXPECT_FALSE(first->Graphic->Nodes[1]);
  auto *second = new TLink(&m, a, 2, b, 0, "10,5,15,1,20");
  m.LinkList.Add(second);
  EXPECT_TRUE(first->Graphic->Nodes[1]);
  EXPECT_EQ(std::count(first->Graphic->Nodes.begin(), first->Graphic->Nodes.end(), true), 1);
  EXPECT_EQ(At(Paint(m), 151, 51), Black);
  EXPECT_EQ(first->Graphic->SegmentAt({120, 55}), 1);
  EXPECT_EQ(first->Graphic->SegmentAt({120, 56}), 0);
  TLink *hit = nullptr;
  int segment = 0;
  EXPECT_TRUE(m.LinkList.HitTest({155, 70}, hit, segment));
  EXPECT_EQ(hit, first);
  EXPECT_EQ(segment, 2);
  m.LinkList.Remove(second);
  EXPECT_FALSE(first->Graphic->Nodes[1]);
  EXPECT_EQ(At(Paint(m), 151, 51), White);

  const auto &pins = b->Graphic->InPins; // pin 0 at (200, 10), one unit = 10 px
  const struct {
    QPoint P;
    int Pin;
  } probes[] = {{{191, 10}, 0}, {{209, 19}, 0}, {{190, 10}, -1}, {{210, 10}, -1}, {{201, 30}, 1}};
  for (const auto &p : probes)
    EXPECT_EQ(TGraphicAbstract::PinAt(pins, p.P), p.Pin) << p.P.x() << "," << p.P.y();
  EXPECT_EQ(m.AbstractList.HitTest({225, 50}, 0), nullptr);
  EXPECT_EQ(m.AbstractList.HitTest({225, 50}, 1), b);
  EXPECT_TRUE(b->Graphic->InsideRect(QRect(199, -1, 23, 102)));
  EXPECT_FALSE(b->Graphic->InsideRect(QRect(200, -1, 22, 102)));
}

// Every kind of block paints, and the schema goes through the system
// clipboard and back.
TEST(SchemaDrawing, EveryBlockKindPaints) {
  TFakeDescriptorReader reader;
  auto m = NewRoot();
  m->Scale = 16;
  m->SetDescriptor(std::make_shared<TFakeDescriptor>());
  auto *note = new TComment(m.get(), atComment, 0);
  note->Caption = "Пример схемы: все виды блоков";
  note->SetRect({1, 1, 22, 4});
  m->AbstractList.Add(note);
  int left = 2;
  for (const char *id : {"din", "one", "and", "not", "select", "rs", "timer", "relay", "led", "vin", "vout"})
    AddFunction(*m, id, left += 6, 6);
  TElement *label = AddElement(*m, atLabel, 0, 26, 14);
  AddElement(*m, atLabelRef, 0, 34, 14)->SetLabel(label);
  auto *sub = new TModule(m.get(), 0);
  m->AbstractList.Add(sub);
  AddElement(*sub, atInint);
  AddElement(*sub, atOutint);
  sub->SetRect({18, 22, 20, 24});
  AddElement(*m, atInint, 1, 2, 26);
  AddElement(*m, atOutint, 1, 34, 26);
  AddLink(*m, m->AbstractList[1], 0, m->AbstractList[3], 0);
  const QImage image = Paint(*m, 700, 460);
  int nonWhite = 0;
  for (int y = 0; y < image.height(); y += 2)
    for (int x = 0; x < image.width(); x += 2)
      nonWhite += At(image, x, y) != White;
  EXPECT_GT(nonWhite, 1000);
  TAbstractRefList selection;
  selection.SelectAll(m->AbstractList);
  TSystemClipboard clipboard;
  m->CopyToClipboard(clipboard);
  auto copy = NewRoot();
  copy->PasteFromClipboard(clipboard);
  EXPECT_EQ(copy->AbstractList.Count(), m->AbstractList.Count() - 2); // without the inint and outint
  EXPECT_EQ(copy->LinkList.Count(), 1);
}
