#include "ui/sitechecksform.h"

#include <gtest/gtest.h>

namespace {

SiteChecks Every() {
    SiteChecks checks;
    checks.Statuses = {{200, 200}, {301, 302}};
    checks.Redirects = 3;
    // What the [URLS] line must quote: a ";", a quote, blanks at the ends.
    checks.Contains = " Add to cart; \"now\" ";
    checks.Lacks = "Error";
    checks.Stay = true;
    checks.CertDays = 30;
    checks.SlowMs = 1500;
    return checks;
}

std::string Ok(const std::string& stored, const SiteCheckFields& fields) {
    SiteCheckProblem problem;
    const SiteChecksView view = ViewOfStoredChecks(stored);
    const std::optional<std::string> value = ChecksOnOk(stored, view.Fields, fields, problem);
    EXPECT_TRUE(value) << problem.Text;
    return value.value_or("(refused)");
}

} // namespace

TEST(SiteChecksForm, FieldsGoBackAsTheChecksTheyShowQuotesAndAll) {
    const SiteCheckFields fields = FieldsFor(Every());
    EXPECT_EQ(fields.Statuses, "200,301-302");
    EXPECT_EQ(fields.Contains, " Add to cart; \"now\" ");
    const std::string value = Ok("", fields);
    std::string problem;
    EXPECT_EQ(ReadSiteChecks(value, problem), Every()) << value << problem;

    // Empty number fields are the defaults: a site that asks for nothing stores nothing.
    SiteCheckFields none;
    none.Redirects = " ";
    EXPECT_EQ(Ok("status=500", none), "");
}

TEST(SiteChecksForm, AStoredValueStaysAsWrittenUnlessAFieldChanges) {
    // Unreadable (an old file): shown with its problem, over the defaults, and kept on OK.
    const SiteChecksView old = ViewOfStoredChecks("something");
    EXPECT_NE(old.Note.find("something"), std::string::npos) << old.Note;
    EXPECT_EQ(old.Fields, FieldsFor(SiteChecks{}));
    EXPECT_EQ(Ok("something", old.Fields), "something");
    SiteCheckFields changed = old.Fields;
    changed.SlowMs = "900";
    EXPECT_EQ(Ok("something", changed), "slow=900");

    // Readable: kept as written, even where the settings would write it otherwise.
    const std::string written = "  certdays=30 ";
    const SiteChecksView view = ViewOfStoredChecks(written);
    EXPECT_TRUE(view.Note.empty());
    EXPECT_EQ(view.Fields.CertDays, "30");
    EXPECT_EQ(Ok(written, view.Fields), written);

    // The options the dialog has no field for survive an edit of its fields.
    const std::string signIn =
        "proxy=none;auth=basic;user=me;pass=protected:AAAA;cert=" + std::string(40, 'A') +
        ";slow=500;contains=x";
    SiteCheckFields edited = ViewOfStoredChecks(signIn).Fields;
    edited.SlowMs = "900";
    edited.Contains = "";
    std::string problem;
    SiteChecks want = *ReadSiteChecks(signIn, problem);
    want.SlowMs = 900;
    want.Contains.reset();
    EXPECT_EQ(ReadSiteChecks(Ok(signIn, edited), problem), want) << problem;
}

TEST(SiteChecksForm, AFieldThatDoesNotReadIsNamedWithTheReadersWords) {
    struct Case {
        SiteCheckField field;
        SiteCheckFields fields;
    };
    const auto with = [](auto set) {
        SiteCheckFields fields = FieldsFor(SiteChecks{});
        set(fields);
        return fields;
    };
    const Case cases[] = {
        {SiteCheckField::Statuses, with([](SiteCheckFields& f) { f.Statuses = "abc"; })},
        // No second option slips in through a field.
        {SiteCheckField::Statuses, with([](SiteCheckFields& f) { f.Statuses = "200;contains=x"; })},
        {SiteCheckField::Redirects, with([](SiteCheckFields& f) { f.Redirects = "13"; })},
        {SiteCheckField::Contains,
         with([](SiteCheckFields& f) { f.Contains = std::string(MaxCheckText + 1, 'x'); })},
        {SiteCheckField::CertDays, with([](SiteCheckFields& f) { f.CertDays = "-1"; })},
        {SiteCheckField::SlowMs, with([](SiteCheckFields& f) { f.SlowMs = "fast"; })},
        // Each text reads alone; quoted, together, they are longer than checks may be.
        {SiteCheckField::Contains,
         with([](SiteCheckFields& f) { f.Contains = f.Lacks = std::string(MaxCheckText, '"'); })},
    };
    for (const Case& c : cases) {
        SiteCheckProblem problem;
        EXPECT_FALSE(ChecksOnOk("", FieldsFor(SiteChecks{}), c.fields, problem));
        EXPECT_EQ(problem.Field, c.field) << problem.Text;
        EXPECT_FALSE(problem.Text.empty());
    }
}
