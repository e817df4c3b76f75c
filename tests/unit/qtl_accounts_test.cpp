// Logins: SQL Server authentication and the login procedure GET_USER.
#include "qtl/demo_ids.h"
#include "qtl/text.h"
#include "qtl_test_db.h"

using namespace devserver::qtl::demo;
using namespace qtl_test;
namespace text = devserver::qtl::text;

namespace {

// The nine arguments as the workstation sends them.
devserver::StatementOutcome getUser(const QtlDb& d, const std::string& login, const std::string& password,
                                    const std::string& newPassword = "") {
    const devserver::Value fresh = newPassword.empty() ? devserver::Value() : T(text::passwordDigest(newPassword));
    return d.call("GET_USER", {pos(T(login)), pos(T(text::passwordDigest(password))), pos(fresh), pos(T("QTL 33")),
                               pos(T("10.0.0.5")), pos(T("PC7")), pos(T(login)), pos(T("0")),
                               pos(T(newPassword.empty() ? "4" : "34"))});
}

std::vector<std::string> row(const devserver::StatementOutcome& out) {
    EXPECT_FALSE(out.failed) << (out.messages.empty() ? "" : out.messages[0].text);
    EXPECT_EQ(out.results.size(), 1u);
    EXPECT_EQ(out.results.at(0).rows.size(), 1u);
    return table(out.results.at(0)).at(0);
}

// What the workstation does with columns 0 and 1.
std::string decodeStored(const std::string& stored) {
    std::string bytes = text::toCp1251(stored);
    for (auto& c : bytes) c = static_cast<char>(static_cast<unsigned char>(c) + 1);
    return text::fromCp1251(bytes);
}

}  // namespace

TEST(QtlAccounts, SqlServerAuthentication) {
    QtlDb d;
    const auto [user, password] = devserver::qtl::settingsAccount(d.db);
    EXPECT_EQ(user, kSettingsUser);
    EXPECT_EQ(password, kSettingsPassword);

    auto ok = devserver::qtl::checkLogin(d.db, "qtl_entry", "entry_pw", "QTL");
    EXPECT_TRUE(ok.ok);
    EXPECT_EQ(ok.database, "QTL");
    EXPECT_TRUE(devserver::qtl::checkLogin(d.db, "QTL_ENTRY", "entry_pw", "qtl").ok);  // names ignore case
    EXPECT_TRUE(devserver::qtl::checkLogin(d.db, "qtl_op", "op_pw_33", "").ok);  // default database

    auto wrong = devserver::qtl::checkLogin(d.db, "qtl_entry", "ENTRY_PW", "QTL");  // passwords do not
    EXPECT_FALSE(wrong.ok);
    EXPECT_EQ(wrong.error.number, 18456);
    EXPECT_EQ(wrong.error.text, "Login failed for user 'qtl_entry'.");
    EXPECT_EQ(devserver::qtl::checkLogin(d.db, "nobody", "", "QTL").error.number, 18456);
    // An operator's workstation login is not a database account.
    EXPECT_FALSE(devserver::qtl::checkLogin(d.db, "operator", "operator", "QTL").ok);

    auto db = devserver::qtl::checkLogin(d.db, "qtl_entry", "entry_pw", "master");
    EXPECT_FALSE(db.ok);
    EXPECT_EQ(db.error.number, 4060);
    EXPECT_EQ(db.error.text, "Cannot open database \"master\" requested by the login. The login failed.");
}

TEST(QtlAccounts, GetUserHandsOutTheOperatorsAccount) {
    QtlDb d;
    const auto out = getUser(d, "operator", "operator");
    ASSERT_EQ(out.results.at(0).columns.size(), 6u);
    const auto r = row(out);
    EXPECT_EQ(r[0], "psk^no");  // "qtl_op", every byte minus one
    EXPECT_EQ(r[2], std::to_string(kUserOperator));
    EXPECT_EQ(r[3], "50");
    EXPECT_EQ(r[4], "");
    EXPECT_EQ(r[5], std::to_string(kNewestVersion));
    // The decoded account logs in.
    EXPECT_TRUE(devserver::qtl::checkLogin(d.db, decodeStored(r[0]), decodeStored(r[1]), "QTL").ok);
    // The login is remembered with its address and computer.
    EXPECT_EQ(d.rows("SELECT last_ip, last_comp, last_login IS NOT NULL FROM QTL_User WHERE id_QTL_user = 1"),
              (Rows{{"10.0.0.5", "PC7", "1"}}));
    // Login names ignore case, as on the server.
    EXPECT_EQ(row(getUser(d, "OPERATOR", "operator"))[2], "1");
}

TEST(QtlAccounts, GetUserRefusals) {
    QtlDb d;
    const Rows refusedWrong = {{"", "", "0", "0", kWrongPasswordText, "13"}};
    EXPECT_EQ(Rows{row(getUser(d, "operator", "Operator"))}, refusedWrong);
    EXPECT_EQ(Rows{row(getUser(d, "nobody", "operator"))}, refusedWrong);
    EXPECT_EQ(Rows{row(getUser(d, "blocked", "blocked1"))}, (Rows{{"", "", "0", "0", kBlockedText, "13"}}));
    // A wrong password does not reveal that the login is blocked.
    EXPECT_EQ(row(getUser(d, "blocked", "nope"))[4], kWrongPasswordText);
    // Lower-case digests are accepted too.
    auto lower = d.call("GET_USER", {pos(T("viewer")), pos(T("")), pos({}), pos(T("QTL 33")), pos(T("")), pos(T("")),
                                     pos(T("viewer")), pos(T("0")), pos(T("4"))});
    EXPECT_EQ(row(lower)[4], kWrongPasswordText);
    std::string digest = text::passwordDigest("viewer1");
    for (auto& c : digest) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto okLower = d.call("GET_USER", {pos(T("viewer")), pos(T(digest)), pos({}), pos(T("QTL 33")), pos(T("")),
                                       pos(T("")), pos(T("viewer")), pos(T("0")), pos(T("4"))});
    EXPECT_EQ(row(okLower)[2], std::to_string(kUserViewer));
    // An unknown program gets no version (read as 0).
    auto other = d.call("GET_USER", {pos(T("viewer")), pos(T(digest)), pos({}), pos(T("QTL 99")), pos(T("")),
                                     pos(T("")), pos(T("viewer")), pos(T("0")), pos(T("4"))});
    EXPECT_EQ(row(other)[5], "<null>");
    // Eight arguments are one too few.
    auto eight = d.call("GET_USER", {pos(T("a")), pos(T("b")), pos({}), pos(T("c")), pos(T("d")), pos(T("e")),
                                     pos(T("f")), pos(T("0"))});
    EXPECT_TRUE(eight.failed);
    EXPECT_EQ(eight.messages.at(0).number, 201);
    EXPECT_EQ(eight.messages.at(0).text,
              "Procedure or function 'GET_USER' expects parameter '@length', which was not supplied.");
}

TEST(QtlAccounts, PasswordStatesAndChange) {
    QtlDb d;
    EXPECT_EQ(row(getUser(d, "newbie", "newbie1"))[3], "-1");
    EXPECT_EQ(row(getUser(d, "aged", "aged12"))[3], "19");
    EXPECT_EQ(row(getUser(d, "newbie", "newbie1"))[3], "-1");  // asked again until changed

    // A change with the wrong current password changes nothing.
    EXPECT_EQ(row(getUser(d, "newbie", "wrong", "secret7"))[4], kWrongPasswordText);
    EXPECT_EQ(row(getUser(d, "newbie", "secret7"))[4], kWrongPasswordText);

    const auto changed = row(getUser(d, "newbie", "newbie1", "secret7"));
    EXPECT_EQ(changed[4], "");
    EXPECT_EQ(changed[3], "90");  // the demand is lifted
    EXPECT_EQ(d.scalar("SELECT password_md5 FROM QTL_User WHERE QTL_login = 'newbie'"),
              text::passwordDigest("secret7"));
    EXPECT_EQ(row(getUser(d, "newbie", "newbie1"))[4], kWrongPasswordText);
    EXPECT_EQ(row(getUser(d, "newbie", "secret7"))[3], "90");

    // Something that is not a digest is not stored.
    auto bad =
        d.call("GET_USER", {pos(T("aged")), pos(T(text::passwordDigest("aged12"))), pos(T("short")), pos(T("QTL 33")),
                            pos(T("")), pos(T("")), pos(T("aged")), pos(T("0")), pos(T("34"))});
    EXPECT_EQ(row(bad)[4], "Новый пароль не принят");
    EXPECT_EQ(row(getUser(d, "aged", "aged12"))[3], "19");
}
