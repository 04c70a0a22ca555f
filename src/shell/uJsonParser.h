#pragma once
// The agent's answers: a JSON-like text (keys without quotes) turned into an
// XML document that is queried by XPath. Root `document`; an `object` per
// object, an `array` per array, a `value` per scalar; an element made for a
// member carries the key in `name`.
#include "ixml.h"

#include <QString>

class TJsonParser {
public:
  // A new document holding Text. Throws EKvFormat with the reader's texts:
  // "unexpected token %s at position %d", "unexpected token "%s" at position
  // %d", "unexpected", "unsuported token "%s" at position %d", "unbalanced
  // brackets or brases token "%s" at position %d", "unfinished string const"
  // (positions count characters from 0, at the token's start).
  static IXXMLDocument Parse(const QString &Text);
};
