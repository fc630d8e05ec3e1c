// Which folder pages a real server gives the upload area, and that a page kept for a moment never
// shows the area where none is due: every folder takes uploads but the plug-ins folder.
#include "ServerFixture.h"

#include "server/UploadOffer.h"

namespace {

class UploadOffer : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        settings.FolderPages = true;
        writeFile("shared/notes.txt", "notes");
        writeFile("mods/readme.txt", "modules");
        writeFile("mods/deep/more.txt", "more");
        portNumber = start();
    }
    std::string pageOf(const std::string& target) {
        return get("GET " + target + " HTTP/1.0\r\n\r\n");
    }
    static bool hasArea(const std::string& reply) {
        return reply.find("<section class=\"up\"") != std::string::npos;
    }
    static std::string dataTo(const std::string& reply) {
        const size_t at = reply.find("data-to=\"");
        if (at == std::string::npos)
            return "<none>";
        return reply.substr(at + 9, reply.find('"', at + 9) - at - 9);
    }
    std::string root() const { return docroot.path().toStdString() + "/"; }
};

PeerSite siteWithPlugins(const QString& plugins, const QString& base = "/base/",
                         UploadsChoice uploads = UploadsChoice::UnderBase,
                         const QString& uploadFolder = {}) {
    return PeerSite(
        {"index.htm", base, "5", plugins, "", uploadFolder, true, ReachChoice::Anywhere, uploads});
}

} // namespace

TEST_F(UploadOffer, EveryFolderPageSendsFilesToItsOwnFolder) {
    const std::string top = pageOf("/");
    EXPECT_TRUE(top.starts_with("HTTP/1.0 200 OK\r\n")) << top;
    EXPECT_EQ(dataTo(top), "/");
    EXPECT_EQ(dataTo(pageOf("/shared/")), "/shared/");
    EXPECT_EQ(dataTo(pageOf("/mods/deep/")), "/mods/deep/");
    EXPECT_FALSE(hasArea(pageOf("/shared/notes.txt"))) << "a file is served as it is";
}

TEST_F(UploadOffer, ThePlugInsFolderOffersNoneAndAKeptPageFollowsTheRule) {
    // Asked for twice: the second answer is the kept page.
    EXPECT_TRUE(hasArea(pageOf("/mods/")));
    EXPECT_TRUE(hasArea(pageOf("/mods/")));
    settings.PluginsPath = docroot.path() + "/mods";
    EXPECT_FALSE(hasArea(pageOf("/mods/"))) << "the folder is unchanged, the rule is not";
    EXPECT_FALSE(hasArea(pageOf("/mods/deep/")));
    EXPECT_TRUE(hasArea(pageOf("/shared/")));
    // And the way back: the page kept without the area does not stand in for one with it.
    settings.PluginsPath = docroot.path() + "/no-plugins";
    EXPECT_TRUE(hasArea(pageOf("/mods/")));
    // What the area offers, the server takes.
    const std::string saved =
        get("PUT /mods/new%20file.txt HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc");
    EXPECT_EQ(saved, page(200, "OK", "File saved"));
    EXPECT_EQ(readFile("mods/new file.txt"), "abc");
}

TEST_F(UploadOffer, TheRuleByFolder) {
    const std::string base = root();
    ASSERT_TRUE(QDir().mkpath(docroot.path() + "/plugins/sub"));
    ASSERT_TRUE(QDir().mkpath(docroot.path() + "/pluginsX"));
    ASSERT_EQ(::symlink((base + "plugins").c_str(), (base + "to-plugins").c_str()), 0);
    const PeerSite site = siteWithPlugins(docroot.path() + "/plugins");
    const struct {
        std::string folder;
        std::optional<std::string> target;
    } cases[] = {
        {base, "/x/"},
        {base + "shared/", "/x/"},
        {base + "pluginsX/", "/x/"},
        {base + "plugins/", std::nullopt},
        {base + "plugins/sub/", std::nullopt},
        {base + "to-plugins/", std::nullopt},
        {base + "to-plugins/sub/", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(uploadoffer::UploadTarget(site, c.folder, "/x/"), c.target) << c.folder;
}

// Which pages offer uploads follows the choice of where visitors may upload.
TEST_F(UploadOffer, TheRuleByChoice) {
    const std::string base = root();
    ASSERT_TRUE(QDir().mkpath(docroot.path() + "/Public/Uploads/sub"));
    ASSERT_EQ(::symlink((base + "Public/Uploads").c_str(), (base + "to-uploads").c_str()), 0);
    const QString plugins = docroot.path() + "/plugins";
    const QString uploads = docroot.path() + "/Public/Uploads/";
    const PeerSite off = siteWithPlugins(plugins, docroot.path(), UploadsChoice::Off, uploads);
    const PeerSite into =
        siteWithPlugins(plugins, docroot.path(), UploadsChoice::UploadFolder, uploads);
    const PeerSite notYet = siteWithPlugins(plugins, docroot.path(), UploadsChoice::UploadFolder,
                                            docroot.path() + "/Later/Uploads/");
    const PeerSite outside =
        siteWithPlugins(plugins, docroot.path(), UploadsChoice::UploadFolder, "/tmp/");
    const struct {
        const PeerSite& site;
        std::string folder, shown;
        std::optional<std::string> target;
    } cases[] = {
        {off, base, "/", std::nullopt},
        {off, base + "shared/", "/shared/", std::nullopt},
        {into, base, "/", "/Public/Uploads/"},
        {into, base + "shared/", "/shared/", std::nullopt},
        {into, base + "Public/", "/Public/", std::nullopt},
        {into, base + "Public/Uploads/", "/Public/Uploads/", "/Public/Uploads/"},
        {into, base + "Public/Uploads/sub/", "/Public/Uploads/sub/", "/Public/Uploads/sub/"},
        {into, base + "to-uploads/", "/to-uploads/", "/to-uploads/"},
        {notYet, base, "/", "/Later/Uploads/"},
        {outside, base, "/", std::nullopt},
        {outside, "/tmp/", "/", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(uploadoffer::UploadTarget(c.site, c.folder, c.shown), c.target) << c.folder;
}
