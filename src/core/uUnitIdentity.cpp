#include "uUnitIdentity.h"

#include <QCryptographicHash>

namespace {
QString Short(const QByteArray &Bytes) {
  if (Bytes.isEmpty())
    return QStringLiteral("-");
  return QString::fromLatin1(QCryptographicHash::hash(Bytes, QCryptographicHash::Md5).toHex().left(8));
}
} // namespace

bool TUnitIdentity::SameUnit(const TUnitIdentity &Other) const {
  if (IsEmpty() || Other.IsEmpty())
    return false;
  // A logic digest is compared only where both sides read the logic: a page
  // that did not read it says nothing against one that did.
  const bool logicDiffers =
      !LogicDigest.isEmpty() && !Other.LogicDigest.isEmpty() && LogicDigest != Other.LogicDigest;
  // Where the unit has a datum of its own, the datum names it and the
  // address is only where it answers now: the relay whose address parameter
  // the program wrote answers at the new one as the unit it was. Without a
  // datum the address is all that tells two units of one type apart.
  const bool sameAddress = Address == Other.Address || !UnitDatum.isEmpty();
  return Route == Other.Route && sameAddress && DescFrame == Other.DescFrame && UnitDatum == Other.UnitDatum &&
         !logicDiffers;
}

bool TUnitIdentity::SameAnswer(uint8_t OtherAddress, const QByteArray &OtherDescFrame,
                               const QByteArray &OtherDatum) const {
  return !IsEmpty() && Address == OtherAddress && DescFrame == OtherDescFrame && UnitDatum == OtherDatum;
}

QString TUnitIdentity::Describe() const {
  return QStringLiteral("%1 unit %2 desc %3 datum %4 logic %5")
      .arg(Route.isEmpty() ? QStringLiteral("-") : Route)
      .arg(Address)
      .arg(Short(DescFrame), Short(UnitDatum), Short(LogicDigest));
}
