// The pieces of line editing that need no terminal: what Tab does with the
// words offered, the listing of choices, the history of answers and its file,
// and the console reading through an editor.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console/OvAnswerHistory.h"
#include "console/OvConsoleIo.h"
#include "console/OvLineEditor.h"
#include "framework/OvSystem.h"

namespace {

using Words = std::vector<std::string>;

TEST(CompletionPlanTest, WhatTabDoes)
{
    struct Row {
        const char* typed;
        Words words;
        bool repeated;
        bool replace;
        const char* text;
        bool list;
    };
    const Row rows[] = {
        // One word: it replaces what is typed, case and all.
        {"ou=sa", {"ou=Sales,dc=example,dc=com"}, false, true, "ou=Sales,dc=example,dc=com", false},
        // Several: as far as they agree; then a second Tab lists them.
        {"Sales", {"Sales Managers", "Sales Team"}, false, true, "Sales ", false},
        {"Sales ", {"Sales Managers", "Sales Team"}, false, false, "", false},
        {"Sales ", {"Sales Managers", "Sales Team"}, true, false, "", true},
        // Never cut inside a character: "J" and "Jü..." share "J", not half of "ü".
        {"", {"J\xC3\xBCrgen", "J\xC3\xA4ger"}, false, true, "J", false},
        // Complete already: nothing to do, nothing to list.
        {"John Smith", {"John Smith"}, true, false, "", false},
        // Typed text that no word continues is left alone.
        {"Zed", {"Alice", "Bob"}, true, false, "", true},
        {"x", {}, true, false, "", false},
    };
    for (const Row& row : rows) {
        const OvCompletionStep step = OvPlanCompletion(row.typed, row.words, row.repeated);
        EXPECT_EQ(step.replace, row.replace) << row.typed;
        if (row.replace) {
            EXPECT_EQ(step.text, row.text) << row.typed;
        }
        EXPECT_EQ(step.list, row.list) << row.typed;
    }
}

TEST(CompletionPlanTest, ChoicesInColumnsDownFirst)
{
    EXPECT_EQ(OvFormatChoices({"John Smith", "J\xC3\xBCrgen M\xC3\xBCller", "Mary Jones"}, 80),
              "John Smith     J\xC3\xBCrgen M\xC3\xBCller  Mary Jones\n");
    EXPECT_EQ(OvFormatChoices({"a", "b", "c", "d", "e"}, 6), "a  d\nb  e\nc\n");
    EXPECT_EQ(OvFormatChoices({"long name"}, 4), "long name\n");
}

class AnswerHistoryTest : public ::testing::Test {
protected:
    AnswerHistoryTest()
    {
        char pattern[] = "/tmp/ov-history.XXXXXX";
        folder = mkdtemp(pattern);
        path = folder + "/state/UserServiceCommand/history";
    }
    ~AnswerHistoryTest() override { std::system(("rm -rf '" + folder + "'").c_str()); }

    std::string FileText() const
    {
        std::ifstream file(path);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    std::string folder;
    std::string path;
};

TEST_F(AnswerHistoryTest, KeptPerKindInAPrivateFileAndReadBack)
{
    {
        OvAnswerHistory history(path);
        EXPECT_TRUE(history.Add(OvAnswerKind::Context, "LDAP://h ou=Sales,dc=example,dc=com"));
        EXPECT_TRUE(history.Add(OvAnswerKind::Selection, "2"));
        EXPECT_FALSE(history.Add(OvAnswerKind::Selection, "2"));     // the latest again
        EXPECT_FALSE(history.Add(OvAnswerKind::User, "  "));         // blank
        EXPECT_FALSE(history.Add(OvAnswerKind::None, "Secret123"));  // kept nowhere
        EXPECT_TRUE(history.Add(OvAnswerKind::User, "jsmith\twith a tab"));
        EXPECT_EQ(history.Entries(OvAnswerKind::Selection), Words{"2"});
        EXPECT_TRUE(history.Entries(OvAnswerKind::Name).empty());
    }
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(
        FileText(),
        "context\tLDAP://h ou=Sales,dc=example,dc=com\nselection\t2\nuser\tjsmith\twith a tab\n");
    EXPECT_EQ(FileText().find("Secret123"), std::string::npos);

    const OvAnswerHistory again(path);
    EXPECT_EQ(again.Entries(OvAnswerKind::Context), Words{"LDAP://h ou=Sales,dc=example,dc=com"});
    EXPECT_EQ(again.Entries(OvAnswerKind::User), Words{"jsmith\twith a tab"});
}

TEST_F(AnswerHistoryTest, AFileOpenToOthersIsMadePrivateAndAGrownOneCompacted)
{
    ASSERT_EQ(std::system(("mkdir -p '" + folder + "/state/UserServiceCommand'").c_str()), 0);
    {
        std::ofstream file(path);
        file << "unknown\tx\n";
        for (int i = 0; i < 3000; ++i) file << "selection\t" << (i % 2 == 0 ? "2" : "3") << "\n";
        file << "context\tcut short";  // no line feed: a crash cut it
    }
    chmod(path.c_str(), 0644);
    const OvAnswerHistory history(path);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(history.Entries(OvAnswerKind::Selection).size(), OvAnswerHistory::kKeptPerKind);
    EXPECT_TRUE(history.Entries(OvAnswerKind::Context).empty());
    // Written afresh with what is kept.
    const std::string text = FileText();
    EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')),
              OvAnswerHistory::kKeptPerKind);
}

// A compaction that cannot be written (a full disk) leaves the file as it was
// and nothing beside it.
TEST_F(AnswerHistoryTest, ACompactionThatCannotBeWrittenLosesNothing)
{
    ASSERT_EQ(std::system(("mkdir -p '" + folder + "/state/UserServiceCommand'").c_str()), 0);
    {
        std::ofstream file(path);
        for (int i = 0; i < 3000; ++i) file << "selection\t" << (i % 2 == 0 ? "2" : "3") << "\n";
    }
    const std::string before = FileText();
    OvSystem().write = [](int, const void*, std::size_t) -> ssize_t {
        errno = ENOSPC;
        return -1;
    };
    {
        const OvAnswerHistory history(path);
    }
    OvSystem() = OvRealSystem();
    EXPECT_EQ(FileText(), before);
    struct stat info {};
    EXPECT_NE(stat((path + ".new").c_str(), &info), 0);
}

TEST_F(AnswerHistoryTest, AFileFarTooLargeIsStartedAnew)
{
    ASSERT_EQ(std::system(("mkdir -p '" + folder + "/state/UserServiceCommand'").c_str()), 0);
    {
        std::ofstream file(path);
        const std::string line = "selection\t" + std::string(1000, '2') + "\n";
        for (int i = 0; i < 17 * 1024; ++i) file << line;
    }
    OvAnswerHistory history(path);
    EXPECT_TRUE(history.Entries(OvAnswerKind::Selection).empty());
    EXPECT_TRUE(history.Add(OvAnswerKind::Selection, "2"));
    EXPECT_EQ(FileText(), "selection\t2\n");
}

// The file is used only when it and its folder are the user's and nobody
// else may write to them; a link to the folder is judged by what it points
// to (the terminal tests try a folder others may write to).
TEST_F(AnswerHistoryTest, UsedOnlyInAFolderAndFileOfTheUsersOwn)
{
    const std::pair<const char*, bool> rows[] = {{"mv $F real && ln -s ../real $F", true},
                                                 {"chown 65534 $F", geteuid() != 0}};
    for (const auto& [arrange, used] : rows) {
        ASSERT_EQ(std::system(("cd '" + folder + "' && F=state/UserServiceCommand && rm -rf real " +
                               "$F && mkdir -p $F && printf 'context\\tx\\n' >$F/history && " +
                               arrange + " 2>/dev/null || true")
                                  .c_str()),
                  0);
        OvAnswerHistory history(path);
        EXPECT_EQ(history.Entries(OvAnswerKind::Context).size(), used ? 1u : 0u) << arrange;
    }
}

TEST_F(AnswerHistoryTest, NoPathKeepsTheSessionOnly)
{
    OvAnswerHistory history{std::string()};
    EXPECT_TRUE(history.Add(OvAnswerKind::Type, "LDAP"));
    EXPECT_EQ(history.Entries(OvAnswerKind::Type), Words{"LDAP"});
    EXPECT_NE(access(path.c_str(), F_OK), 0);
}

TEST(AnswerHistoryPathTest, StateFolderOrHome)
{
    const char* savedState = std::getenv("XDG_STATE_HOME");
    const char* savedHome = std::getenv("HOME");
    const std::string state = savedState ? savedState : "";
    const std::string home = savedHome ? savedHome : "";
    setenv("HOME", "/home/u", 1);
    setenv("XDG_STATE_HOME", "/var/state", 1);
    EXPECT_EQ(OvAnswerHistory::DefaultPath(), "/var/state/UserServiceCommand/history");
    setenv("XDG_STATE_HOME", "relative", 1);  // not absolute: ignored
    EXPECT_EQ(OvAnswerHistory::DefaultPath(), "/home/u/.local/state/UserServiceCommand/history");
    unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(OvAnswerHistory::DefaultPath(), "/home/u/.local/state/UserServiceCommand/history");
    unsetenv("HOME");
    EXPECT_EQ(OvAnswerHistory::DefaultPath(), "");
    if (savedState) setenv("XDG_STATE_HOME", state.c_str(), 1);
    if (savedHome) setenv("HOME", home.c_str(), 1);
}

// An editor that gives scripted lines and records what it was asked.
class ScriptedEditor : public OvLineEditor {
public:
    explicit ScriptedEditor(std::deque<std::string> lines) : lines_(std::move(lines)) {}
    bool ReadLine(const std::string& prompt, OvAnswerKind kind, std::string& line) override
    {
        prompts.push_back(prompt);
        kinds.push_back(kind);
        if (lines_.empty()) return false;
        line = lines_.front();
        lines_.pop_front();
        return true;
    }
    void SetCompleter(OvCompleter*) override {}
    std::vector<std::string> prompts;
    std::vector<OvAnswerKind> kinds;

private:
    std::deque<std::string> lines_;
};

class HideAlways : public OvEchoControl {
public:
    bool HideInput() override { return true; }
    void ShowInput() override {}
};

TEST(EditedConsoleTest, PromptsGoToTheEditorAndAnswersComeBack)
{
    std::istringstream in("hidden secret\n");
    std::ostringstream out;
    std::wostringstream wideOut;
    HideAlways echo;
    OvConsoleIo io(in, out, wideOut, &echo);
    ScriptedEditor editor({"   ", " 3 and more", std::string(1100, 'x'), std::string("a\0b", 3)});
    io.SetLineEditor(&editor);

    io.Prompt("\n\nSelection: ", OvAnswerKind::Selection);
    std::string word;
    ASSERT_TRUE(io.ReadWord(word));
    EXPECT_EQ(word, "3");
    // The blank line does not end the read and the prompt is not shown again.
    EXPECT_EQ(editor.prompts, Words({"Selection: ", ""}));
    EXPECT_EQ(editor.kinds[0], OvAnswerKind::Selection);

    io.Prompt("\nContext: DSType://<server> <fqdn>\nExample: x\n: ", OvAnswerKind::Context);
    std::string answer;
    ASSERT_TRUE(io.ReadLine(answer));
    EXPECT_EQ(answer.size(), OvConsoleIo::kLineRoom);
    EXPECT_EQ(editor.prompts.back(), ": ");
    EXPECT_EQ(editor.kinds.back(), OvAnswerKind::Context);

    // A hidden answer is read from the stream, never through the editor.
    io.Prompt("\nPassword <domain password -hidden>: ", OvAnswerKind::None);
    ASSERT_TRUE(io.ReadHiddenLine(answer));
    EXPECT_EQ(answer, "hidden secret");
    EXPECT_EQ(editor.prompts.size(), 3u);

    io.Prompt("\nNext: ", OvAnswerKind::Name);
    ASSERT_TRUE(io.ReadLine(answer));
    EXPECT_EQ(answer, "a");
    // At the end of input every read says so, without asking the editor again.
    EXPECT_FALSE(io.ReadLine(answer));
    EXPECT_FALSE(io.ReadWord(word));
    EXPECT_FALSE(io.ReadHiddenLine(answer));
    EXPECT_EQ(editor.prompts.size(), 5u);
    // Everything before a prompt's last line went to the output; the rest to the editor.
    EXPECT_EQ(out.str(),
              "\n\n\nContext: DSType://<server> <fqdn>\nExample: x\n"
              "\nPassword <domain password -hidden>: \n\n\n");
}

}  // namespace
