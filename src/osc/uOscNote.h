#pragma once
// Notes on an oscillogram channel and the record's events, as the viewer and
// its side file keep them. Drawing them is the viewer's.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

class TOscNote {
public:
  enum TValueKind { vkNone = 0, vkInstant = 1, vkRms = 2 };

  TOscNote() = default;
  explicit TOscNote(const QString &AText) : Text(AText) {}
  virtual ~TOscNote() = default;
  // A note spanning two moments.
  virtual bool HasMoment2() const { return false; }

  int Moment = 100; // sample index
  QString Text = QString::fromUtf8("Текст Текст");
  uint32_t FontColor = 0;  // 0xRRGGBB
  int FontHeight = -16;    // negative: character height in pixels
  QString FontName = QStringLiteral("Arial");
  int Dy = 0;              // pixels below the strip's top
  int CalcValType = vkInstant;
  int GrabOffset = 0;      // while dragged: pixels between the mouse and the note
};

class TOscNote2 : public TOscNote {
public:
  TOscNote2() { CalcValType = vkNone; }
  explicit TOscNote2(const QString &AText) : TOscNote2() { Text = AText; }
  bool HasMoment2() const override { return true; }
  int Moment2 = 0;
};

// An event of the record: its moment is its sample, its text its caption.
class TOscEvent : public TOscNote {
public:
  QString MomentText; // as the side file stores it
};

using TOscNoteList = std::vector<std::unique_ptr<TOscNote>>;
using TOscEventList = std::vector<std::unique_ptr<TOscEvent>>;

// The names of the edge kinds by index: no edge, rising, falling, both.
inline const QStringList &EdgeKindNames() {
  static const QStringList Names = QString::fromUtf8("нет фронта,передний,задний,оба фронта").split(',');
  return Names;
}
