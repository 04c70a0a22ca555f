#include "uPropertyFormX.h"

#include "uBitListDialog.h"
#include "uControls.h"
#include "uErrors.h"
#include "uMessageSink.h"
#include "uMultiLingual.h"

#include <QColorDialog>
#include <QComboBox>
#include <QFile>
#include <QFontDialog>
#include <QHeaderView>
#include <QMetaProperty>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
const QStringList DialogNames{"TColorDialog", "TFontDialog", "TBitListDialog"};

QByteArray ShippedTable() {
  QFile f(QStringLiteral(":/property"));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString Attr(const IXXMLNode &Node, const char *Name) { return Node->GetStrAttr(QString::fromLatin1(Name), QString()); }

// The key cell of a colour row ends in a square of the colour, as high as the row.
class TSwatchDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter *Painter, const QStyleOptionViewItem &Option, const QModelIndex &Index) const override {
    QStyledItemDelegate::paint(Painter, Option, Index);
    const QVariant color = Index.data(TPropertyForm::SwatchRole);
    if (!color.isValid())
      return;
    const int side = Option.rect.height();
    Painter->fillRect(QRect(Option.rect.right() - side + 1, Option.rect.top(), side, side), color.value<QColor>());
  }
};
} // namespace

TPropertyForm::TPropertyForm(QWidget *Parent, const QByteArray &Table)
    : QDialog(Parent, Qt::Tool | Qt::WindowStaysOnTopHint), vle(new QTableWidget(0, 2, this)) {
  setObjectName("PropertyForm");
  setWindowTitle(QStringLiteral("Свойства"));
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(vle);
  vle->setObjectName("vle");
  vle->setHorizontalHeaderLabels({QStringLiteral("Свойство"), QStringLiteral("Значение")});
  vle->horizontalHeader()->setStretchLastSection(true);
  vle->verticalHeader()->hide();
  vle->setColumnWidth(0, 150);
  vle->setItemDelegateForColumn(0, new TSwatchDelegate(vle));
  connect(vle, &QTableWidget::itemChanged, this, [this](QTableWidgetItem *Item) {
    if (!FUpdating && Item->column() == 1)
      SetEditText(Item->row(), Item->text());
  });
  IXXMLDocument doc = NewXMLDocument();
  if (!doc->LoadBytes(Table.isEmpty() ? ShippedTable() : Table))
    throw EKvError("property table: " + doc->GetParseError());
  FRoot = doc->GetDocumentElement();
  const IXXMLNodeList dialogs = FRoot->SelectNodes(QStringLiteral("//property[@dialog]"));
  for (int i = 0; i < dialogs->GetCount(); ++i)
    if (const QString d = Attr(dialogs->GetItem(i), "dialog"); !DialogNames.contains(d))
      throw EKvError("invalid dialog " + d);

  FDialogs.Color = [this](int &Color) {
    const QColor c = QColorDialog::getColor(ColorOf(Color), this);
    if (!c.isValid())
      return false;
    Color = c.red() | c.green() << 8 | c.blue() << 16;
    return true;
  };
  FDialogs.Font = [this](TFont &Font) {
    bool ok = false;
    QFont start(Font.Name(), Font.Size());
    const QFont f = QFontDialog::getFont(&ok, start, this);
    if (ok) {
      Font.SetName(f.family());
      Font.SetSize(f.pointSize());
      kvc::TFontStyles s;
      s.setFlag(kvc::fsBold, f.bold());
      s.setFlag(kvc::fsItalic, f.italic());
      s.setFlag(kvc::fsUnderline, f.underline());
      s.setFlag(kvc::fsStrikeOut, f.strikeOut());
      Font.SetStyle(s);
    }
    return ok;
  };
  FDialogs.Bits = [this](TBitList &Bits) {
    TBitListDialog dlg(this);
    dlg.LoadFrom(Bits);
    dlg.PlaceBeside(this);
    if (dlg.exec() != QDialog::Accepted)
      return false;
    dlg.ApplyTo(Bits);
    return true;
  };
}

void TPropertyForm::SetControl(QWidget *Control) {
  FUpdating = true;
  vle->setRowCount(0);
  FRows.clear();
  FControl = Control;
  if (!Control) {
    setWindowTitle(MultiLingual().Translate(QStringLiteral("Свойства")));
    FUpdating = false;
    return;
  }
  const QString cls = QString::fromLatin1(Control->metaObject()->className());
  const IXXMLNode object = FRoot->SelectSingleNode(QStringLiteral("object[@class='%1']").arg(cls));
  if (!object) {
    FUpdating = false;
    throw EKvAssert("unknown control " + cls);
  }
  setWindowTitle(MultiLingual().Translate(object->GetStrAttr(QStringLiteral("caption"), cls)));
  const IXXMLNodeList props = object->SelectNodes(QStringLiteral("property"));
  for (int i = 0; i < props->GetCount(); ++i)
    AddProperty(props->GetItem(i));
  FUpdating = false;
}

void TPropertyForm::AddProperty(const IXXMLNode &Node) {
  const QString name = Attr(Node, "name");
  // A property the control does not publish gets no row.
  if (!IsPublished(FControl, name))
    return;
  const QVariant v = PropertyValue(FControl, name);
  const int type = v.typeId();
  const bool known = type == QMetaType::Int || type == QMetaType::QString ||
                     (v.metaType().flags() & (QMetaType::PointerToQObject | QMetaType::IsEnumeration));
  if (!known)
    throw EKvError(QString::asprintf("unexpected proptype %d", type));
  const int row = vle->rowCount();
  vle->insertRow(row);
  FRows.append(Node);
  auto *key = new QTableWidgetItem(MultiLingual().Translate(Node->GetStrAttr(QStringLiteral("caption"), name)));
  key->setFlags(Qt::ItemIsEnabled);
  vle->setItem(row, 0, key);
  FillRow(row);
}

void TPropertyForm::FillRow(int Row) {
  const bool was = FUpdating;
  FUpdating = true;
  const IXXMLNode node = FRows[Row];
  const QString name = Attr(node, "name"), dialog = Attr(node, "dialog"), selector = Attr(node, "selector");
  vle->removeCellWidget(Row, 1);
  if (!dialog.isEmpty()) {
    auto *button = new QPushButton(DisplayValue(Row) + QStringLiteral("  …"));
    button->setFlat(true);
    button->setAutoFillBackground(true); // covers the value text beneath
    button->setStyleSheet(QStringLiteral("text-align: left"));
    connect(button, &QPushButton::clicked, this, [this, Row] { EditButtonClick(Row); });
    vle->setCellWidget(Row, 1, button);
    if (dialog == "TColorDialog")
      vle->item(Row, 0)->setData(SwatchRole, ColorOf(PropertyValue(FControl, name).toInt()));
  } else if ((!selector.isEmpty() && IsPublished(FControl, selector)) || !EnumIdentifiers(FControl, name).isEmpty()) {
    auto *list = new QComboBox;
    if (!selector.isEmpty() && IsPublished(FControl, selector)) {
      for (const TSelectorItem &s : PropertyValue(FControl, selector).value<TSelector>())
        list->addItem(s.Text, s.Object);
    } else {
      for (const QString &k : EnumIdentifiers(FControl, name))
        list->addItem(k);
    }
    list->setCurrentIndex(list->findText(DisplayValue(Row)));
    connect(list, &QComboBox::activated, this, [this, Row, list] { SetEditText(Row, list->currentText()); });
    vle->setCellWidget(Row, 1, list);
  }
  auto *value = new QTableWidgetItem(DisplayValue(Row));
  if (!dialog.isEmpty() || vle->cellWidget(Row, 1))
    value->setFlags(Qt::ItemIsEnabled);
  vle->setItem(Row, 1, value);
  FUpdating = was;
}

QString TPropertyForm::DisplayValue(int Row) const {
  const IXXMLNode node = FRows[Row];
  const QString name = Attr(node, "name"), dialog = Attr(node, "dialog"), selector = Attr(node, "selector");
  if (dialog == "TFontDialog") {
    auto *f = PropertyValue(FControl, name).value<TFont *>();
    return f ? f->Name() : QString();
  }
  if (dialog == "TColorDialog")
    return QString::asprintf("%08X", uint32_t(PropertyValue(FControl, name).toInt()));
  if (dialog == "TBitListDialog")
    return PropertyText(FControl, QStringLiteral("bitmap"));
  const QVariant v = PropertyValue(FControl, name);
  if (!selector.isEmpty() && IsPublished(FControl, selector) && v.typeId() != QMetaType::QString) {
    for (const TSelectorItem &s : PropertyValue(FControl, selector).value<TSelector>())
      if (s.Object == v.toInt())
        return s.Text;
    return QString();
  }
  return PropertyText(FControl, name);
}

int TPropertyForm::RowOf(const QString &Name) const {
  for (int i = 0; i < FRows.size(); ++i)
    if (Attr(FRows[i], "name").compare(Name, Qt::CaseInsensitive) == 0)
      return i;
  return -1;
}

QString TPropertyForm::ValueText(int Row) const { return vle->item(Row, 1) ? vle->item(Row, 1)->text() : QString(); }

void TPropertyForm::ApplyValue(int Row, const QString &Text) {
  const IXXMLNode node = FRows[Row];
  const QString name = Attr(node, "name"), selector = Attr(node, "selector");
  if (!Attr(node, "dialog").isEmpty())
    return;
  const QVariant v = PropertyValue(FControl, name);
  if (v.typeId() == QMetaType::QString) {
    SetPropertyValue(FControl, name, Text);
    return;
  }
  if (!selector.isEmpty() && IsPublished(FControl, selector)) {
    int value = 0;
    for (const TSelectorItem &s : PropertyValue(FControl, selector).value<TSelector>())
      if (s.Text == Text) {
        value = s.Object;
        break;
      }
    SetPropertyValue(FControl, name, value);
    return;
  }
  SetPropertyText(FControl, name, Text);
}

void TPropertyForm::SetEditText(int Row, const QString &Text) {
  if (FUpdating || Text.isEmpty() || !FControl)
    return;
  try {
    ApplyValue(Row, Text);
  } catch (const EKvError &e) {
    ShowErrorText(e.Text());
  }
  const QString name = Attr(FRows[Row], "name");
  FillRow(Row);
  for (int i = 0; i < FRows.size(); ++i)
    if (Attr(FRows[i], "depend") == name)
      FillRow(i);
}

void TPropertyForm::EditButtonClick(int Row) {
  const IXXMLNode node = FRows[Row];
  const QString name = Attr(node, "name"), dialog = Attr(node, "dialog");
  if (dialog == "TColorDialog") {
    int color = PropertyValue(FControl, name).toInt();
    if (FDialogs.Color && FDialogs.Color(color))
      SetPropertyValue(FControl, name, color);
  } else if (dialog == "TFontDialog") {
    if (auto *f = PropertyValue(FControl, name).value<TFont *>(); f && FDialogs.Font)
      FDialogs.Font(*f);
  } else if (dialog == "TBitListDialog") {
    if (auto *b = PropertyValue(FControl, name).value<TBitList *>(); b && FDialogs.Bits)
      FDialogs.Bits(*b);
  }
  FillRow(Row);
}
