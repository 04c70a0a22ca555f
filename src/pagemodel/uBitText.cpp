#include "uBitText.h"

QString BitsToText(int Bits, int Count) {
  QString s;
  for (int i = 0; i < Count; ++i) {
    if (i > 0 && i % 4 == 0)
      s.prepend(u' ');
    s.prepend(i < 31 && (Bits >> i) & 1 ? u'1' : u'0');
  }
  return s;
}

int TextToBits(const QString &Text) {
  int bits = 0, bit = 0;
  for (qsizetype i = Text.size() - 1; i >= 0; --i) {
    if (Text[i] != u'1' && Text[i] != u'0')
      continue;
    if (Text[i] == u'1' && bit < 31)
      bits |= 1 << bit;
    ++bit;
  }
  return bits;
}
