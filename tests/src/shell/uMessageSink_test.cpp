#include "uMessageSink.h"

#include "uLogger.h"

#include <gtest/gtest.h>

// Once the custom-logic page holds the program's edge, failures that reach it
// are logged in the edge's own wording; before, as any other error.
TEST(MessageSink, EdgeFailureIsLoggedInTheWordingOfWhoeverHoldsTheEdge) {
  const TEdgeErrorHandler old = SetEdgeErrorHandler({});
  Logger().Clear();
  LogEdgeError("invalid logic");
  QStringList shown;
  SetEdgeErrorHandler([&shown](const QString &Text) { shown << Text; });
  LogEdgeError("Ошибка контрольной суммы FLASH");
  SetEdgeErrorHandler(old);
  const QStringList lines = Logger().Lines();
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines[0].endsWith("ERROR invalid logic")) << lines[0].toStdString();
  EXPECT_TRUE(lines[1].endsWith("ERROR ApplicationException. Ошибка контрольной суммы FLASH")) << lines[1].toStdString();
  EXPECT_TRUE(shown.isEmpty()) << "logging does not show the text again";
}
