// The lexer of the expression language: token kinds and texts, comments,
// numbers under the decimal separator, and the unterminated-token errors.
#include <gtest/gtest.h>

#include "engine/sql/expr_test_util.h"

namespace {

using namespace engine;
using expr_test::ExpectError;

// "kind:text" for every token of `text`.
std::string Lex(const std::string& text) {
  TExpressionParser parser(kErrSql, "", "SQL statement");
  parser.SetText(text);
  std::string out;
  while (parser.ReadToken() != kTokenEnd) {
    if (!out.empty()) out += " ";
    out += std::to_string(parser.TokenKind()) + ":" + parser.TokenText();
  }
  return out;
}

struct LexCase {
  const char* text;
  const char* tokens;
};

TEST(ExprLexer, TokenKindsAndTexts) {
  const LexCase cases[] = {
      {"FileName_2 \xA4\xA4x", "1:FileName_2 1:\xA4\xA4x"},  // bytes 129..254 are letters
      {"[My Column]", "2:My Column"},
      {"'It''s'", "3:It's"},
      {"\"say \"\"hi\"\"\"", "3:say \"hi\""},
      {"\"it''s\"", "3:it's"},  // a doubled single quote collapses in double quotes too
      {"'C:\\Data\\'", "3:C:\\Data\\"},
      {"''", "3:"},
      {"#65 #", "4:#65 4:#"},
      {"42 1.5 .5 1E5 2e-3 1E+7", "5:42 6:1.5 6:.5 6:1E5 6:2e-3 6:1E+7"},
      {"1,5", "5:1 44:, 5:5"},
      {"12E", "6:12E"},
      {"1-2", "5:1 45:- 5:2"},
      {"a.b", "1:a 46:. 1:b"},
      {"<> <= >= ||", "60:< 62:> 60:< 61:= 62:> 61:= 124:| 124:|"},
      {"( ) , ; * / ? +", "40:( 41:) 44:, 59:; 42:* 47:/ 63:? 43:+"},
      {"a/* note */b /**/ c", "1:a 1:b 1:c"},
      {"\t\r\n x \x01", "1:x"},
  };
  for (const LexCase& c : cases) {
    EXPECT_EQ(Lex(c.text), c.tokens) << c.text;
  }
  EXPECT_EQ(Lex(std::string("x\0y", 3)), "1:x");  // the text ends at its first zero byte
}

TEST(ExprLexer, DecimalSeparatorOfTheSettingsMakesTheFloat) {
  // Under language 0 the separator is '.', so ',' is its own token.
  FormatSettingsScope scope(0, 0);
  EXPECT_EQ(Lex("3.25"), "6:3.25");
  EXPECT_EQ(Lex("3,25"), "5:3 44:, 5:25");
}

TEST(ExprLexer, KeywordTestIgnoresCaseAndNeedsASymbol) {
  TExpressionParser parser;
  parser.SetText("select 'SELECT'");
  parser.ReadToken();
  EXPECT_TRUE(parser.IsKeyword("SELECT"));
  EXPECT_FALSE(parser.IsKeyword("SELEC"));
  parser.ReadToken();
  EXPECT_FALSE(parser.IsKeyword("SELECT"));  // a string is not a keyword
  EXPECT_EQ(parser.ReadToken(), kTokenEnd);
  EXPECT_EQ(parser.TokenText(), "");
}

TEST(ExprLexer, UnterminatedTokensNameTheContext) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"a /* open", "Missing ending comment slash and asterisk in SQL statement"},
      {"'abc", "Missing single quote after 'abc' in SQL statement"},
      {"\"abc", "Missing double quote after 'abc' in SQL statement"},
      {"[abc", "Missing right bracket after 'abc' in SQL statement"},
      {"'It''s", "Missing single quote after 'It''s' in SQL statement"},
  };
  for (const Case& c : cases) {
    ExpectError([&] { Lex(c.text); }, c.message);
  }
}

TEST(ExprLexer, UnterminatedFragmentIsShortened) {
  const std::string longText(300, 'x');
  TExpressionParser parser(kErrFilter, "Back", "filter expression");
  parser.SetText("'" + longText);
  ExpectError([&] { parser.ReadToken(); },
              "Missing single quote after '" + std::string(30, 'x') + "' in filter expression",
              kErrFilter, "Back");
}

TEST(ExprLexer, ExpressionTextDropsLineBreaks) {
  TExpressionParser parser;
  parser.SetText("  a +\r\n b  FROM x");
  parser.ReadToken();
  ExpTree tree = parser.ParseExpression(0);
  EXPECT_TRUE(parser.IsKeyword("FROM"));
  EXPECT_EQ(parser.ExpressionText(), "a + b");
}

}  // namespace
