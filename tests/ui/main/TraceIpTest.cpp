// "Trace IP" beyond one server: where an answer refers the lookup to next.
#include "ui/main/WhoisReferral.h"

#include <gtest/gtest.h>

namespace tarnwick::testing {
namespace {

const auto kRowName = [](const auto& info) { return std::string(info.param.name); };

struct ParseRow {
    const char* name;
    const char* answer;
    const char* found; // "host", "host:port", or empty for none
};

class ReferralLine : public ::testing::TestWithParam<ParseRow> {};

TEST_P(ReferralLine, NamesTheWhoisServerToAskNext) {
    const auto referral = FindReferral(QString::fromUtf8(GetParam().answer));
    const QString port = referral && referral->port ? ":" + QString::number(*referral->port) : "";
    EXPECT_EQ(referral ? referral->host + port : "", QString::fromUtf8(GetParam().found));
}

const ParseRow kParseRows[] = {
    {"PortAndSlash", "ReferralServer: whois://a.net:4321/\r\n", "a.net:4321"},
    {"AnyCaseBlanksAround", "referralserver:\t WHOIS://A.net \r\n", "A.net"},
    {"FirstLineCounts", "REFER: a.net\nReferralServer: whois://b.net\n", "a.net"},
    {"FirstLineCountsIfNotWhois", "ReferralServer: rwhois://a.net:4321\nrefer: b.net\n", ""},
    {"SimilarKeys", "Ref: https://x.net\nResourceLink: a.net\nComment: refer: b.net\n", ""},
    {"Path", "ReferralServer: whois://a.net/path\n", ""},
    {"PortTooLarge", "ReferralServer: whois://a.net:65536\n", ""},
    {"NotAHostName", "refer: a.net; rm -rf ~\n", ""},
};
INSTANTIATE_TEST_SUITE_P(Answers, ReferralLine, ::testing::ValuesIn(kParseRows), kRowName);

} // namespace
} // namespace tarnwick::testing
