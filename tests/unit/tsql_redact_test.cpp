// What the request log keeps of a batch: credentials masked, every other byte as received.
#include "tsql/redact.h"

#include <gtest/gtest.h>

using devserver::tsql::maskCredentials;

TEST(MaskCredentials, GetUserLosesItsDigestsAndKeepsEverythingElse) {
    // As the workstation sends it: login, digest, NULL, tag, IP, computer, login, '0', length.
    EXPECT_EQ(maskCredentials("EXEC GET_USER 'operator','4B583376B2767B923C3E1DA60D10DE59',NULL, 'QTL 33', "
                              "'10.0.0.5', 'PC7', 'operator','0','4'\r\n"),
              "EXEC GET_USER 'operator','********',NULL, 'QTL 33', '10.0.0.5', 'PC7', 'operator','0','4'\r\n");
    // With a new password both digests go; the tag, address and computer stay.
    EXPECT_EQ(maskCredentials("EXEC dbo.GET_USER 'o''neil','AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA',"
                              "'BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB', 'QTL 33', 'ip', 'pc', 'o''neil','0','34'"),
              "EXEC dbo.GET_USER 'o''neil','********','********', 'QTL 33', 'ip', 'pc', 'o''neil','0','34'");
    // Other spellings of the call: bare first statement, EXECUTE with prefixes, named arguments.
    EXPECT_EQ(maskCredentials("GET_USER 'a', 'secret', NULL"), "GET_USER 'a', '********', NULL");
    EXPECT_EQ(maskCredentials("execute [QTL].[dbo].[get_user] N'a', N'secret'"),
              "execute [QTL].[dbo].[get_user] N'a', '********'");
    EXPECT_EQ(maskCredentials("EXEC GET_USER @login = 'a', @program = 'QTL 33', @password = 'secret', "
                              "@new_password = 'fresh'"),
              "EXEC GET_USER @login = 'a', @program = 'QTL 33', @password = '********', @new_password = '********'");
    // The call ends at the next statement: a later SELECT's texts stay.
    EXPECT_EQ(maskCredentials("EXEC GET_USER 'a','d'\r\nSELECT 'x', 'y'"),
              "EXEC GET_USER 'a','********'\r\nSELECT 'x', 'y'");
}

TEST(MaskCredentials, PasswordColumnsLoseTheirValuesAndOtherBatchesStayExact) {
    EXPECT_EQ(maskCredentials("SELECT name FROM QTL_DbAccount WHERE password = 'op_pw_33'"),
              "SELECT name FROM QTL_DbAccount WHERE password = '********'");
    EXPECT_EQ(maskCredentials("UPDATE QTL_User SET [password_md5] = 'ABC' WHERE 'x' = password_md5"),
              "UPDATE QTL_User SET [password_md5] = '********' WHERE '********' = password_md5");
    const std::string plain = "SELECT N'Студент ''1''', -- GET_USER in a comment\r\n 'password' FROM w_s WHERE a = 'b'";
    EXPECT_EQ(maskCredentials(plain), plain);
    // An unreadable batch that may hold a credential is not kept; any other is kept as it came.
    EXPECT_EQ(maskCredentials("EXEC GET_USER 'a','unterminated").find("unterminated"), std::string::npos);
    EXPECT_EQ(maskCredentials("SELECT 'unterminated"), "SELECT 'unterminated");
}

TEST(MaskCredentials, EveryFormTheCallTakesADigestInIsMasked) {
    // The server takes a text argument quoted, bracketed, double-quoted, bare, or as a number.
    const struct {
        const char* batch;
        const char* logged;
    } cases[] = {
        {"EXEC GET_USER 'a', [4B583376B2767B923C3E1DA60D10DE59], NULL", "EXEC GET_USER 'a', '********', NULL"},
        {"EXEC GET_USER 'a', \"4B583376B2767B923C3E1DA60D10DE59\"", "EXEC GET_USER 'a', '********'"},
        {"EXEC GET_USER 'a', secret, fresh, 'QTL 33'", "EXEC GET_USER 'a', '********', '********', 'QTL 33'"},
        {"EXEC GET_USER 'a', 12345678901234567890123456789012", "EXEC GET_USER 'a', '********'"},
        {"EXEC GET_USER 'a', -42, +7, 'QTL 33'", "EXEC GET_USER 'a', '********', '********', 'QTL 33'"},
        {"EXEC GET_USER @login = 'a', @password = [secret], @new_password = \"fresh\"",
         "EXEC GET_USER @login = 'a', @password = '********', @new_password = '********'"},
        {"EXEC GET_USER @password=secret, @login=[a]", "EXEC GET_USER @password='********', @login=[a]"},
        // A negative number before @password is one value: the name after it still counts.
        {"EXEC GET_USER @mode = -1, @PASSWORD = [x]", "EXEC GET_USER @mode = -1, @PASSWORD = '********'"},
        // NULL is no credential, and the other arguments stay in any form.
        {"EXEC GET_USER [a], NULL, NULL, [QTL 33]", "EXEC GET_USER [a], NULL, NULL, [QTL 33]"},
    };
    for (const auto& c : cases) EXPECT_EQ(maskCredentials(c.batch), c.logged) << c.batch;
}
