// Frames of the schema editor on a generated module: 2,000 function blocks of
// the project's library (50 rows of 40) and 3,000 links, painted at the default
// zoom into a 1000 x 700 view scrolled to the middle, and a drag of 100
// selected blocks (a mouse move and the repaint with their outlines each
// frame, then the move command on release). Prints milliseconds a frame.
#include "schema_test_util.h"
#include "uSchemaEditorState.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>

int main(int argc, char **argv) {
  QGuiApplication app(argc, argv);
  auto m = NewRoot();
  m->Root = true;
  m->SetDescriptor(std::make_shared<TFakeDescriptor>());
  QList<TElement *> blocks;
  for (int i = 0; i < 2000; ++i)
    blocks << AddFunction(*m, "and", 2 + 8 * (i % 40), 2 + 8 * (i / 40));
  for (int i = 0; i < 3000; ++i) {
    TElement *to = blocks[1 + i % 1999];
    AddLink(*m, blocks[(i * 7) % 2000 == 1 + i % 1999 ? 0 : (i * 7) % 2000], 0, to, i / 1999);
  }
  TSchemaEditorState e(96);
  e.SetModule(m.get());
  e.SetViewSize(1000, 700);
  e.ZoomBy(0);
  e.SetScrollPos({e.ScrollRange().width() / 3, e.ScrollRange().height() / 3});
  QImage view(1000, 700, QImage::Format_RGB32);
  auto frame = [&] {
    QPainter p(&view);
    p.translate(-e.ScrollPos);
    e.Paint(p, 1000 + e.ScrollPos.x(), 700 + e.ScrollPos.y(), QRect(e.ScrollPos, view.size()));
  };
  frame();
  const int frames = 20;
  QElapsedTimer t;
  t.start();
  for (int i = 0; i < frames; ++i)
    frame();
  const double paintMs = double(t.nsecsElapsed()) / 1e6 / frames;

  // 100 blocks in the view's corner, grabbed by the first.
  for (int i = 0; i < 100; ++i)
    e.Selection().Add(blocks[(i / 10) * 40 + i % 10]);
  const QPoint grab((blocks[0]->Rect.Left + 1) * e.Scale(), (blocks[0]->Rect.Top + 1) * e.Scale());
  e.MouseDown(TSchemaEditorState::mbLeft, false, grab);
  t.restart();
  for (int i = 1; i <= frames; ++i) {
    e.MouseMove(grab + QPoint(3 * i, 2 * i));
    frame();
  }
  const double dragMs = double(t.nsecsElapsed()) / 1e6 / frames;
  t.restart();
  e.MouseUp(grab + QPoint(3 * frames, 2 * frames));
  const double releaseMs = double(t.nsecsElapsed()) / 1e6;
  std::printf("2000 blocks, 3000 links, scale %d: paint %.1f ms a frame; drag of 100 blocks %.1f ms a frame, "
              "release (move command) %.1f ms\n",
              e.Scale(), paintMs, dragMs, releaseMs);
  return m->LinkList.Count() == 3000 ? 0 : 1;
}
