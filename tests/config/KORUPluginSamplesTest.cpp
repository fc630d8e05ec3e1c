#include "config/KORUPlugin.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>
#include <vector>

namespace {

struct Reply {
    int index = -1;
    std::string body;
    std::string header;
    int32_t status = 200;
};

Reply Call(const std::string& name, const std::string& request, const std::string& query) {
    Reply reply;
    reply.index =
        RunPlugin(name, "10.0.0.7", request, query, reply.body, reply.header, reply.status);
    return reply;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

class SampleModulesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { panel_.ScanPlugins(KORU_PLUGIN_DIR); }
    static void TearDownTestSuite() { panel_.UnloadPlugins(KORUPG_DONE_PROGRAM_ENDS); }
    static PluginPanel panel_;
};

PluginPanel SampleModulesTest::panel_;

TEST_F(SampleModulesTest, BothAreListed) {
    QStringList lines = panel_.Lines();
    lines.sort();
    EXPECT_EQ(lines, QStringList({"CALC ==> Calculator: /calc?a=2&b=3&op=add (add, sub, mul, div)",
                                  "ECHO ==> Echo: shows the request, the peer and the query; "
                                  "answers forms"}));
}

TEST_F(SampleModulesTest, CalcAnswersQueries) {
    const struct {
        const char* query;
        const char* answer;
    } cases[] = {
        {"a=2&b=3&op=add", "<p>2 + 3 = 5</p>"},
        {"op=sub&a=7&b=2", "<p>7 - 2 = 5</p>"},
        {"a=1.5&b=-2&op=mul", "<p>1.5 * -2 = -3</p>"},
        {"a=1&b=4&op=%2F", "<p>1 / 4 = 0.25</p>"},
        {"a=+1&b=2", "<p>1 + 2 = 3</p>"}, // "+" is a blank: op defaults to add
        {"a=1&b=0&op=div", "<p>Division by zero.</p>"},
        {"a=1e308&b=1e308&op=mul", "<p>The result is out of range.</p>"},
        {"a=inf&b=1", "<p>Both a and b must be numbers.</p>"},
        {"a=1,5&b=1", "<p>Both a and b must be numbers.</p>"},
        {"a=1&b=2&op=pow", "<p>Unknown operation. Use add, sub, mul or div.</p>"},
    };
    for (const auto& c : cases) {
        const Reply reply = Call("calc", "GET /calc HTTP/1.0\r\n\r\n", c.query);
        EXPECT_GE(reply.index, 0);
        EXPECT_TRUE(Contains(reply.body, c.answer)) << c.query << "\n" << reply.body;
        EXPECT_EQ(reply.header, ""); // the basic query call leaves header and status alone
        EXPECT_EQ(reply.status, 200);
    }
    const Reply form = Call("CALC", "", "");
    EXPECT_TRUE(Contains(form.body, "<form method=\"get\" action=\"/calc\">"));
    EXPECT_FALSE(Contains(form.body, "<p>"));
}

TEST_F(SampleModulesTest, EchoShowsTheRequestEscapedAndAnswersAFormPost) {
    const Reply get =
        Call("echo", "GET /echo?x=%3Cb%3E&y HTTP/1.0\r\nHost: <h>\r\n\r\n", "x=%3Cb%3E&y");
    for (const char* part :
         {"Your address: 10.0.0.7", "<code>x=%3Cb%3E&amp;y</code>", "<td>x</td><td>&lt;b&gt;</td>",
          "<td>y</td><td></td>", "Host: &lt;h&gt;"})
        EXPECT_TRUE(Contains(get.body, part)) << part;
    EXPECT_FALSE(Contains(get.body, "<b>") || Contains(get.body, "<h>"));
    EXPECT_EQ(get.header, "Cache-Control: no-store\r\n");
    EXPECT_EQ(get.status, 200);

    const std::string form = "name=Ann+%3CLee%3E&note=hi%21";
    const Reply post = Call("echo", "POST /echo HTTP/1.0\r\n\r\n" + form, form);
    EXPECT_TRUE(Contains(post.body, "Hello, Ann &lt;Lee&gt;! Your form arrived."));
    EXPECT_TRUE(Contains(post.body, "<td>note</td><td>hi!</td>"));
}

// A 16 MiB post made the page, and the module's memory, grow with it (escaped, several times).
TEST_F(SampleModulesTest, EchoRepeatsABoundedPartOfALongQuery) {
    const std::string form = "note=" + std::string(4 * 1024 * 1024, '<');
    const Reply post = Call("echo", "POST /echo HTTP/1.0\r\n\r\n" + form, form);
    EXPECT_LT(post.body.size(), 1024u * 1024u);
    EXPECT_TRUE(
        Contains(post.body, std::to_string(form.size() - 64 * 1024) + " more bytes not shown"));
}

TEST_F(SampleModulesTest, AnyQueryTextFromManyThreadsAtOnce) {
    const std::vector<std::string> awkward = {"%",
                                              "%4",
                                              "a=%zz",
                                              "&&=&",
                                              "op=div&a=0&b=0",
                                              std::string(70000, '%'),
                                              std::string("a=1\0b", 5)};
    std::vector<std::thread> workers;
    std::vector<int> failures(4, 0);
    for (int w = 0; w < 4; ++w)
        workers.emplace_back([&, w] {
            std::mt19937 random(w);
            for (int i = 0; i < 300; ++i) {
                std::string query(random() % 200, '\0');
                for (char& c : query)
                    c = static_cast<char>(random());
                if (i < static_cast<int>(awkward.size()))
                    query = awkward[i];
                if (Call((i + w) % 2 ? "calc" : "echo", "POST /x HTTP/1.0\r\n\r\n" + query, query)
                        .index < 0)
                    ++failures[w];
            }
        });
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}
