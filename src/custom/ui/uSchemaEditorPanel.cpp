#include "uSchemaEditorPanel.h"

#include "uGraphic.h"
#include "uSchemaModule.h"

#include <QKeyEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace {

TSchemaEditorFactory &Factory() {
  static TSchemaEditorFactory f;
  return f;
}

class TSchemaCanvas : public QWidget {
public:
  TSchemaCanvas(TModule &Module, QWidget *Parent) : QWidget(Parent), FModule(Module) {
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
  }
  bool ShowGrid = false;

protected:
  void paintEvent(QPaintEvent *) override {
    QPainter canvas(this);
    const int scale = std::max(1, FModule.Scale);
    if (ShowGrid && scale >= 4) {
      canvas.setPen(QColor(0xC0, 0xC0, 0xC0));
      for (int x = 0; x < width(); x += scale)
        for (int y = 0; y < height(); y += scale)
          canvas.drawPoint(x, y);
    }
    FModule.Graphic->PaintModule(canvas, 0);
  }

private:
  TModule &FModule;
};

class TSchemaView : public TSchemaEditorPanel {
public:
  explicit TSchemaView(QWidget *Parent) : TSchemaEditorPanel(Parent), FModule(nullptr, 1) {
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    FScroll = new QScrollArea(this);
    FScroll->setObjectName(QStringLiteral("ScrollBox"));
    FCanvas = new TSchemaCanvas(FModule, FScroll);
    FCanvas->setObjectName(QStringLiteral("PaintBox"));
    FScroll->setWidget(FCanvas);
    FScroll->setWidgetResizable(false);
    layout->addWidget(FScroll);
    ZoomBy(0);
  }

  TModule &Module() override { return FModule; }
  void LoadFromFile(const QString &FileName) override {
    FModule.Clear();
    FModule.Module = nullptr;
    FModule.LoadFromFile(FileName);
    ZoomBy(0);
  }
  void SetConfigurator(TConfigurator *Configurator) override { FModule.SetConfigurator(Configurator); }
  void ClearLibraryTree() override {}
  void ClearUndo() override {}
  void ZoomBy(int Delta) override {
    FZoom = std::clamp(FZoom + Delta, -100, 100);
    FModule.SetScale(SchemaZoomScale(FZoom));
    int right = 0, bottom = 0;
    for (const TAbstract *a : FModule.AbstractList.Items()) {
      right = std::max(right, a->Rect.Right);
      bottom = std::max(bottom, a->Rect.Bottom);
    }
    const double scale = FModule.Scale * 1.5;
    FCanvas->resize(std::max(int(std::lround(right * scale)), FScroll->viewport()->width()),
                    std::max(int(std::lround(bottom * scale)), FScroll->viewport()->height()));
    FCanvas->update();
  }
  void SetShowGrid(bool Value) override {
    FCanvas->ShowGrid = Value;
    FCanvas->update();
  }
  void Print() override {}
  void SetInterfaceButtonsVisible(bool) override {}
  bool FormKeyDown(QKeyEvent *Event) override {
    const int step = logicalDpiX() / 4;
    QScrollBar *h = FScroll->horizontalScrollBar(), *v = FScroll->verticalScrollBar();
    switch (Event->key()) {
    case Qt::Key_Left: h->setValue(h->value() - step); return true;
    case Qt::Key_Right: h->setValue(h->value() + step); return true;
    case Qt::Key_Up: v->setValue(v->value() - step); return true;
    case Qt::Key_Down: v->setValue(v->value() + step); return true;
    default: return false;
    }
  }
  bool FormMouseWheel(QWheelEvent *Event) override {
    const bool down = Event->angleDelta().y() < 0;
    if (Event->modifiers() & Qt::ControlModifier) {
      ZoomBy(down ? 10 : -10);
      return true;
    }
    QKeyEvent key(QEvent::KeyPress,
                  Event->modifiers() & Qt::ShiftModifier ? (down ? Qt::Key_Right : Qt::Key_Left)
                                                         : (down ? Qt::Key_Down : Qt::Key_Up),
                  Qt::NoModifier);
    return FormKeyDown(&key);
  }

protected:
  void resizeEvent(QResizeEvent *Event) override {
    TSchemaEditorPanel::resizeEvent(Event);
    ZoomBy(0);
  }

private:
  TModule FModule;
  QScrollArea *FScroll = nullptr;
  TSchemaCanvas *FCanvas = nullptr;
  int FZoom = -30;
};

} // namespace

void SetSchemaEditorFactory(TSchemaEditorFactory F) { Factory() = std::move(F); }

TSchemaEditorPanel *CreateSchemaEditorPanel(QWidget *Parent) {
  if (Factory())
    return Factory()(Parent);
  return new TSchemaView(Parent);
}

int SchemaZoomScale(int Zoom) { return std::max(1, int(std::lround(96.0 * std::exp(Zoom / 20.0)))); }
