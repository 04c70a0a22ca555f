#include "uJsonParser.h"

#include "uErrors.h"

#include <QList>

namespace {
enum class TTok { End, Word, Integer, Fraction, Quoted, Char };

struct TToken {
  TTok Kind = TTok::End;
  QString Text;
  qsizetype Pos = 0;
};

// Tokens as the component-text reader makes them: bare words, integers
// (decimal, or hexadecimal after "$"), fractions, single-quoted strings and
// single characters; white space and control characters separate them.
class TTokenizer {
public:
  explicit TTokenizer(const QString &Text) : FText(Text) {}

  TToken Next() {
    while (FAt < FText.size() && FText[FAt] <= QChar(' '))
      ++FAt;
    TToken t;
    t.Pos = FAt;
    if (FAt >= FText.size())
      return t;
    const QChar c = FText[FAt];
    if (c.isLetter() || c == '_') {
      while (FAt < FText.size() && (FText[FAt].isLetterOrNumber() || FText[FAt] == '_'))
        ++FAt;
      t.Kind = TTok::Word;
    } else if (c.isDigit() || (c == '-' && FAt + 1 < FText.size() && FText[FAt + 1].isDigit())) {
      ++FAt;
      t.Kind = TTok::Integer;
      while (FAt < FText.size() && FText[FAt].isDigit())
        ++FAt;
      while (FAt < FText.size() && (FText[FAt].isDigit() || FText[FAt] == '.' || FText[FAt].toLower() == 'e' ||
                                    ((FText[FAt] == '+' || FText[FAt] == '-') && FText[FAt - 1].toLower() == 'e'))) {
        t.Kind = TTok::Fraction;
        ++FAt;
      }
    } else if (c == '$' && FAt + 1 < FText.size() && IsHex(FText[FAt + 1])) {
      ++FAt;
      while (FAt < FText.size() && IsHex(FText[FAt]))
        ++FAt;
      t.Kind = TTok::Integer;
    } else if (c == '\'') {
      ++FAt;
      while (FAt < FText.size() && FText[FAt] != '\'')
        ++FAt;
      FAt = std::min(FAt + 1, FText.size());
      t.Kind = TTok::Quoted;
    } else {
      ++FAt;
      t.Kind = TTok::Char;
    }
    t.Text = FText.mid(t.Pos, FAt - t.Pos);
    return t;
  }

  // The raw text up to the next double quote, which is consumed; false when
  // the text ends first.
  bool ReadUntilQuote(QString &Out) {
    const qsizetype end = FText.indexOf(QChar('"'), FAt);
    if (end < 0)
      return false;
    Out = FText.mid(FAt, end - FAt);
    FAt = end + 1;
    return true;
  }

private:
  static bool IsHex(QChar C) { return C.isDigit() || (C.toLower() >= 'a' && C.toLower() <= 'f'); }

  const QString &FText;
  qsizetype FAt = 0;
};

[[noreturn]] void Fail(const QString &Text) { throw EKvFormat(Text); }

QString IntegerText(const QString &Token) {
  bool ok = false;
  const qlonglong v = Token.startsWith('$') ? Token.mid(1).toLongLong(&ok, 16) : Token.toLongLong(&ok);
  return ok ? QString::number(v) : Token;
}
} // namespace

IXXMLDocument TJsonParser::Parse(const QString &Text) {
  IXXMLDocument doc = NewXMLDocument();
  doc->LoadXML(QStringLiteral("<document/>"));
  QList<IXXMLNode> path{doc->GetDocumentElement()};
  QString key;
  bool hasKey = false;
  TTokenizer tokens(Text);

  // A scalar or container under the current element, named by the pending key.
  auto newChild = [&](const QString &Name, const TToken &T, bool KeyRequired) {
    const IXXMLNode parent = path.last();
    if (KeyRequired && parent->GetNodeName() == QLatin1String("object") && !hasKey)
      Fail(QStringLiteral("unexpected token %1 at position %2").arg(T.Text).arg(T.Pos));
    IXXMLNode child = parent->AddChild(Name);
    if (hasKey)
      child->SetStrAttr(QStringLiteral("name"), key);
    return child;
  };

  for (TToken t = tokens.Next(); t.Kind != TTok::End; t = tokens.Next()) {
    switch (t.Kind) {
    case TTok::Char:
      if (t.Text == "{" || t.Text == "[") {
        path.append(newChild(t.Text == "{" ? QStringLiteral("object") : QStringLiteral("array"), t, false));
        hasKey = false;
        key.clear();
      } else if (t.Text == "}" || t.Text == "]") {
        if (path.size() == 1)
          Fail(QStringLiteral("unbalanced brackets or brases token \"%1\" at position %2").arg(t.Text).arg(t.Pos));
        path.removeLast();
      } else if (t.Text == ",") {
        hasKey = false;
        key.clear();
      } else if (t.Text == ":") {
        if (!hasKey)
          Fail(QStringLiteral("unexpected token %1 at position %2").arg(t.Text).arg(t.Pos));
      } else if (t.Text == "\"") {
        IXXMLNode value = newChild(QStringLiteral("value"), t, true);
        QString text;
        if (!tokens.ReadUntilQuote(text))
          Fail(QStringLiteral("unfinished string const"));
        value->SetText(text);
      } else {
        Fail(QStringLiteral("unsuported token \"%1\" at position %2").arg(t.Text).arg(t.Pos));
      }
      break;
    case TTok::Word:
      if (!hasKey) {
        key = t.Text;
        hasKey = true;
      } else if (t.Text == QLatin1String("true")) {
        newChild(QStringLiteral("value"), t, true)->SetText(t.Text);
      } else {
        Fail(QStringLiteral("unexpected token \"%1\" at position %2").arg(t.Text).arg(t.Pos));
      }
      break;
    case TTok::Integer:
      newChild(QStringLiteral("value"), t, true)->SetText(IntegerText(t.Text));
      break;
    case TTok::Quoted:
      Fail(QStringLiteral("unexpected"));
    case TTok::Fraction:
      Fail(QStringLiteral("unsuported token \"%1\" at position %2").arg(t.Text).arg(t.Pos));
    case TTok::End:
      break;
    }
  }
  return doc;
}
