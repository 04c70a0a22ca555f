#include "uLabelEditForm.h"

#include "../schema_test_util.h"
#include "uModulePropertyFill.h"

#include <gtest/gtest.h>

TEST(LabelRefEditForm, ListsTheModulesLabelsAndClearsWithoutChoice) {
  TModule m(nullptr, 1);
  TElement *ref = AddElement(m, atLabelRef);
  TLabelRefState s;
  s.Fill(*ref);
  EXPECT_TRUE(s.Labels.isEmpty());
  TElement *a = AddElement(m, atLabel);
  a->Caption = "A";
  TElement *b = AddElement(m, atLabel);
  b->Caption = "B";
  ref->SetLabel(b);
  s.Fill(*ref);
  ASSERT_EQ(s.Labels.size(), 2);
  EXPECT_EQ(s.Selected, 1);
  s.Selected = 0;
  s.Apply(*ref);
  EXPECT_EQ(ref->LabelRef, a);
  EXPECT_EQ(ref->Caption, "A");
  s.Selected = -1;
  s.Apply(*ref);
  EXPECT_EQ(ref->LabelRef, nullptr);
  EXPECT_EQ(ref->Caption, "A");
  EXPECT_EQ(BlockEditorCaption(*ref), "Редактор labr");
}

TEST(CommentEditForm, FontAndCancelLeaveTheCommentAsItWas) {
  TModule m(nullptr, 1);
  auto *c = new TComment(&m, atComment, 0);
  m.AbstractList.Add(c);
  c->Caption = "текст";
  c->FontName = "Arial";
  TCommentState s;
  s.Fill(*c);
  s.ChooseFont([](TCommentFont &F) {
    F.Name = "Courier";
    return false;
  });
  EXPECT_EQ(s.Font.Name, "Arial");
  s.ChooseFont([](TCommentFont &F) {
    F.Name = "Courier";
    F.Style = 1;
    return true;
  });
  EXPECT_EQ(c->FontName, "Arial"); // nothing written before Apply
  s.HorzAlign = 1;
  s.Text = "другой";
  s.Apply(*c);
  EXPECT_EQ(c->FontName, "Courier");
  EXPECT_EQ(c->FontStyle, 1);
  EXPECT_EQ(c->HorzAlign, 1);
  EXPECT_EQ(c->Caption, "другой");
  TElement *label = AddElement(m, atLabel);
  EXPECT_EQ(ErrorOf([&] { s.Fill(*label); }), "a is TComment");
  EXPECT_EQ(ErrorOf([&] { s.Apply(*label); }), "a is TComment");
}

TEST(ModuleProtertyForm, InterfaceRowsShowADashForAGap) {
  TModule root(nullptr, 1);
  auto *sub = new TModule(&root, 0);
  root.AbstractList.Add(sub);
  TElement *in = AddElement(*sub, atInint, 2);
  in->Caption = "Пуск";
  const QList<QStringList> rows = ModuleInterfaceRows(*sub, false);
  ASSERT_EQ(rows.size(), 2);
  EXPECT_EQ(rows[0], QStringList{"-"});
  EXPECT_EQ(rows[1], (QStringList{"Пуск", QString::number(in->Id), "2"}));
  EXPECT_TRUE(ModuleInterfaceRows(*sub, true).isEmpty());
}
