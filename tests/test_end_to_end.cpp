// End-to-end: the built binary run as a user runs it, in a fresh temporary
// directory, the file name piped into standard input; standard output and
// the code file are compared byte for byte.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using namespace std::string_literals;

const std::string prompt = "// Input bouwkampcode or tablecode file name; ";
const std::string processing = "// Processing... \r\n";
const std::string nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";

// The Windows build under wine runs every case but those that need what
// only POSIX has.
#ifdef CODE2OPTION_UNDER_WINE
#define skip_under_wine(reason) GTEST_SKIP() << (reason)
#else
#define skip_under_wine(reason) static_cast<void>(reason)
#endif

std::string summary(int count) { return std::to_string(count) + " bouwkamp files \r\n"; }

std::string quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? "'\\''"s : std::string(1, c);
    return quoted + "'";
}

struct run_result {
    int status = -1;
    std::string out;
    std::string err;
};

// A sandbox per test: `work` holds the code file; the binary, standard input
// and the captured output sit beside it, so that `work` holds nothing else.
struct sandbox {
    temp_dir root;
    fs::path work = root.path / "work";
    fs::path binary = root.path / "code2option";

    sandbox() {
        fs::create_directory(work);
        fs::permissions(root.path, fs::perms::owner_all | fs::perms::group_read |
                                       fs::perms::group_exec | fs::perms::others_read |
                                       fs::perms::others_exec);
        fs::copy_file(CODE2OPTION_BINARY, binary);
#ifdef CODE2OPTION_WINDOWS_EXE
        fs::copy_file(CODE2OPTION_WINDOWS_EXE, root.path / "code2option.exe");
#endif
    }

    // Runs `prefix code2option` in `work`, with `input` piped in.
    run_result run(const std::string& input, const std::string& prefix = "") const {
        return run_with({}, input, prefix);
    }

    run_result run_with(const std::vector<std::string>& arguments, const std::string& input,
                        const std::string& prefix = "") const {
        write_file(root.path / "stdin", input);
        std::string command =
            "cd " + quote(work.string()) + " && cat ../stdin | (" + prefix + " ../code2option";
        for (const std::string& argument : arguments) command.append(" ").append(quote(argument));
        command += ") >../stdout 2>../stderr";
        int raw = std::system(("sh -c " + quote(command) + " 2>/dev/null").c_str());
        run_result result;
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        result.out = read_file(root.path / "stdout");
        result.err = read_file(root.path / "stderr");
        return result;
    }

    // The work directory and its file belong to the ordinary user.
    void give_to_nobody() const {
        for (const auto& entry : fs::recursive_directory_iterator(work))
            EXPECT_EQ(lchown(entry.path().c_str(), 65534, 65534), 0);
        EXPECT_EQ(chown(work.c_str(), 65534, 65534), 0);
    }
};

const std::string three_codes =
    "21 112 112 (50,35,27)(8,19)(15,17,11)(6,24)(29,25,9,2)(7,18)(16)(42)(4,37)(33) * 21 : "
    "112x112A\r\n"
    "13 98 97 (56,42)(16,26)(41,13,2)(11,7)(4,3)(29)(28) * 13 : 98x97A\r\n"
    "9 33 32 \"(18,15)(7,8)(14,4)(10,1)(9)\r\n";
const std::string three_records =
    "21 112 112(50,35,27)(8,19)(15,17,11)(6,24)(29,25,9,2)(7,18)(16)(42)(4,37)(33)21 : 112x112A "
    "* 21: : x 112x112A </option>\r\n"
    "13 98 97(56,42)(16,26)(41,13,2)(11,7)(4,3)(29)(28)13 : 98x97A * 13: : x 98x97A "
    "</option>\r\n"
    "9 33 32\"   (18,15)(7,8)(14,4)(10,1)(9) :  x  </option>\r\n";

TEST(dialogue, converts_the_named_file_and_reports_the_count) {
    sandbox box;
    write_file(box.work / "codes.txt", three_codes);
    run_result r = box.run("codes.txt\n");
    EXPECT_EQ(r.out, prompt + processing + "codes.txt\r\n" + summary(3));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(box.work / "codes.txt"), three_records);
    EXPECT_EQ(list_names(box.work), std::set<std::string>{"codes.txt"});
}

// Files and standard inputs that end up with the same dialogue shape.
struct run_case {
    const char* what;
    std::string file;  // content of "codes.txt"
    std::string input;
    std::string out;  // after the prompt
    std::string file_after;
};

void PrintTo(const run_case& c, std::ostream* os) { *os << c.what; }

class run_table : public testing::TestWithParam<run_case> {};

TEST_P(run_table, gives_the_dialogue_and_the_file) {
    const run_case& c = GetParam();
    sandbox box;
    write_file(box.work / "codes.txt", c.file);
    run_result r = box.run(c.input);
    EXPECT_EQ(r.out, prompt + c.out) << c.what;
    EXPECT_EQ(r.err, "") << c.what;
    EXPECT_EQ(r.status, 0) << c.what;
    EXPECT_EQ(read_file(box.work / "codes.txt"), c.file_after) << c.what;
    EXPECT_EQ(list_names(box.work), std::set<std::string>{"codes.txt"}) << c.what;
}

const std::string converted = processing + "codes.txt\r\n";
const std::string r18 = "1 2 346 7 8 5 6: 7 x 8 </option>\r\n";
const std::string blank_record = "      :  x  </option>\r\n";

INSTANTIATE_TEST_SUITE_P(
    runs, run_table,
    testing::Values(
        run_case{"missing file", "x\n", "nosuch.txt\n",
                 "could not open file nosuch.txt\r\n" + summary(0), "x\n"},
        run_case{"empty standard input", "x\n", "", "could not open file \r\n" + summary(0), "x\n"},
        // On Windows the names of devices open anywhere: they are no code files.
        run_case{"a device name", "x\n", "NUL\n", "could not open file NUL\r\n" + summary(0),
                 "x\n"},
        run_case{"whitespace-only standard input", "x\n", " \t\r\n\n",
                 "could not open file \r\n" + summary(0), "x\n"},
        run_case{"only the first word is the name", "1 2 3 4 5 6 7 8", "  codes.txt other\n",
                 converted + summary(1), r18},
        run_case{"name ended by the end of input", "1 2 3 4 5 6 7 8\n", "codes.txt",
                 converted + summary(1), r18},
        run_case{"name ended by 0x1A", "1 2 3 4 5 6 7 8\n",
                 "codes.txt\x1a"
                 "junk",
                 converted + summary(1), r18},
        run_case{"CR inside the name is dropped", "1 2 3 4 5 6 7 8\n", "codes\r.txt\r\n",
                 converted + summary(1), r18},
        run_case{"empty file", "", "codes.txt\n", converted + summary(0), ""},
        run_case{"empty lines only", "\n\r\n\n", "codes.txt\n", converted + summary(0), ""},
        run_case{"blank lines between and around codes",
                 "\n1 2 3 4 5 6 7 8\n\n\r\n1 2 3 4 5 6 7 8\n\n1 2 3 4 5 6 7 8\n\n", "codes.txt\n",
                 converted + summary(3), r18 + r18 + r18},
        run_case{"a line of spaces and tabs is a code", "1 2 3 4 5 6 7 8\n \t \n", "codes.txt\n",
                 converted + summary(2), r18 + blank_record},
        run_case{"CR LF, stray CR and a last line without line end",
                 "1 2 3 4 5 6 7 \r8\r\n1 2 3 4 5 6 7 8", "codes.txt\n", converted + summary(2),
                 r18 + r18},
        run_case{"0x1A ends the code file",
                 "1 2 3 4 5 6 7 8\n\x1a"
                 "9 9 9\n",
                 "codes.txt\n", converted + summary(1), r18},
        run_case{"NUL and high bytes pass through", "\x80\xff 2 3 \0 5 6 7 8\n"s, "codes.txt\n",
                 converted + summary(1),
                 "\x80\xff 2 3\0"
                 "6 7 8 5 6: 7 x 8 </option>\r\n"s},
        run_case{"a NUL byte in the name does not open its prefix", "x\n", "codes.txt\0.bak\n"s,
                 "could not open file codes.txt\0.bak\r\n"s + summary(0), "x\n"}),
    [](const testing::TestParamInfo<run_case>& info) { return name_of_case(info.param.what); });

TEST(run, does_not_open_a_directory) {
    sandbox box;
    fs::create_directory(box.work / "sub");
    run_result r = box.run("sub\n");
    EXPECT_EQ(r.out, prompt + "could not open file sub\r\n" + summary(0));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(fs::is_directory(box.work / "sub"));
}

TEST(run, does_not_wait_on_a_fifo) {
    sandbox box;
    ASSERT_EQ(mkfifo((box.work / "pipe").c_str(), 0644), 0);
    run_result r = box.run("pipe\n", "timeout 10");
    EXPECT_EQ(r.out, prompt + "could not open file pipe\r\n" + summary(0));
    EXPECT_EQ(r.status, 0);
}

TEST(run, creates_no_file_for_a_missing_name) {
    sandbox box;
    run_result r = box.run("nosuch.txt\n");
    EXPECT_EQ(r.out, prompt + "could not open file nosuch.txt\r\n" + summary(0));
    EXPECT_TRUE(list_names(box.work).empty());
}

TEST(run, shows_the_prompt_before_it_waits_for_the_name) {
    sandbox box;
    write_file(box.work / "codes.txt", "1 2 3 4 5 6 7 8\n");
    int to_tool[2], from_tool[2];
    ASSERT_EQ(pipe(to_tool), 0);
    ASSERT_EQ(pipe(from_tool), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(to_tool[0], 0);
        dup2(from_tool[1], 1);
        close(to_tool[1]);
        close(from_tool[0]);
        if (chdir(box.work.c_str()) == 0) execl(box.binary.c_str(), "code2option", nullptr);
        _exit(127);
    }
    close(to_tool[0]);
    close(from_tool[1]);
    // The prompt must arrive while standard input is still open and empty.
    std::string seen;
    pollfd p{from_tool[0], POLLIN, 0};
    while (seen.size() < prompt.size() && poll(&p, 1, 10000) == 1) {
        char buf[256];
        ssize_t n = read(from_tool[0], buf, sizeof buf);
        if (n <= 0) break;
        seen.append(buf, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(seen, prompt);
    ASSERT_EQ(write(to_tool[1], "codes.txt\n", 10), 10);
    close(to_tool[1]);
    char buf[256];
    ssize_t n;
    while ((n = read(from_tool[0], buf, sizeof buf)) > 0)
        seen.append(buf, static_cast<std::size_t>(n));
    close(from_tool[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(seen, prompt + converted + summary(1));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(write_back, keeps_permission_bits_and_owner) {
    skip_under_wine(
        "POSIX permission bits and owners: Windows keeps attributes and access "
        "rights instead, which wine does not map to them");
    sandbox box;
    write_file(box.work / "codes.txt", "1 2 3 4 5 6 7 8\n");
    ASSERT_EQ(chmod((box.work / "codes.txt").c_str(), 0640), 0);
    ASSERT_EQ(chown((box.work / "codes.txt").c_str(), 65534, 65534), 0);
    run_result r = box.run("codes.txt\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(box.work / "codes.txt"), r18);
    struct stat st {};
    ASSERT_EQ(stat((box.work / "codes.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
}

TEST(write_back, keeps_a_symbolic_link_and_rewrites_its_target) {
    sandbox box;
    fs::create_directory(box.root.path / "data");
    write_file(box.root.path / "data" / "real.txt", "1 2 3 4 5 6 7 8\n");
    fs::create_symlink("../data/real.txt", box.work / "codes.txt");
    run_result r = box.run("codes.txt\n");
    EXPECT_EQ(r.out, prompt + converted + summary(1));
    EXPECT_TRUE(fs::is_symlink(box.work / "codes.txt"));
    EXPECT_EQ(fs::read_symlink(box.work / "codes.txt"), "../data/real.txt");
    EXPECT_EQ(read_file(box.root.path / "data" / "real.txt"), r18);
    EXPECT_EQ(list_names(box.root.path / "data"), std::set<std::string>{"real.txt"});
}

TEST(write_back, keeps_extended_attributes) {
    skip_under_wine("POSIX extended attributes");
    sandbox box;
    write_file(box.work / "codes.txt", "1 2 3 4 5 6 7 8\n");
    const std::string path = (box.work / "codes.txt").string();
    if (setxattr(path.c_str(), "user.note", "kept", 4, 0) != 0)
        GTEST_SKIP() << "this file system takes no user extended attributes";
    run_result r = box.run("codes.txt\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(box.work / "codes.txt"), r18);
    char value[16] = {};
    EXPECT_EQ(getxattr(path.c_str(), "user.note", value, sizeof value), 4);
    EXPECT_STREQ(value, "kept");
    EXPECT_EQ(list_names(box.work), std::set<std::string>{"codes.txt"});
}

TEST(write_back, keeps_hard_links_together) {
    sandbox box;
    write_file(box.work / "codes.txt", "1 2 3 4 5 6 7 8\n");
    fs::create_hard_link(box.work / "codes.txt", box.work / "other.txt");
    run_result r = box.run("codes.txt\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(box.work / "codes.txt"), r18);
    EXPECT_EQ(read_file(box.work / "other.txt"), r18);
    EXPECT_EQ(fs::hard_link_count(box.work / "codes.txt"), 2u);
    EXPECT_EQ(list_names(box.work), (std::set<std::string>{"codes.txt", "other.txt"}));
}

// A write-back that failed: it says so, ends with status 1, and leaves the
// code file as it was with nothing beside it.
void expect_file_kept(const sandbox& box, const run_result& r, const std::string& codes,
                      int count) {
    EXPECT_EQ(r.out, prompt + converted + "could not write file codes.txt\r\n" + summary(count));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(box.work / "codes.txt"), codes);
    EXPECT_EQ(list_names(box.work), std::set<std::string>{"codes.txt"});
}

TEST(write_back, does_not_replace_a_read_only_file_in_a_writable_directory) {
    sandbox box;
    write_file(box.work / "codes.txt", three_codes);
    ASSERT_EQ(chmod((box.work / "codes.txt").c_str(), 0444), 0);
    box.give_to_nobody();
    expect_file_kept(box, box.run("codes.txt\n", nobody), three_codes, 3);
}

TEST(write_back, rewrites_in_place_where_the_directory_takes_no_new_file) {
    sandbox box;
    write_file(box.work / "codes.txt", three_codes);
    fs::create_directory(box.root.path / "tmp");
    box.give_to_nobody();
    ASSERT_EQ(chown((box.root.path / "tmp").c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(box.work.c_str(), 0555), 0);
    run_result r =
        box.run("codes.txt\n", "TMPDIR=" + (box.root.path / "tmp").string() + " " + nobody);
    EXPECT_EQ(r.out, prompt + converted + summary(3));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(box.work / "codes.txt"), three_records);
    EXPECT_EQ(list_names(box.work), std::set<std::string>{"codes.txt"});
#ifdef CODE2OPTION_UNDER_WINE
    // Windows takes its temporary directory from the prefix, not from TMPDIR.
    for (const auto& entry :
         fs::directory_iterator("/tmp/code2option-wine-65534/drive_c/users/nobody/Temp"))
        EXPECT_NE(entry.path().filename().string().rfind("code2option.", 0), 0u) << entry.path();
#else
    EXPECT_EQ(list_names(box.root.path / "tmp"), std::set<std::string>{});
#endif
}

TEST(write_back, reports_a_directory_that_is_not_writable_at_all) {
    sandbox box;
    write_file(box.work / "codes.txt", three_codes);
    ASSERT_EQ(chmod((box.work / "codes.txt").c_str(), 0444), 0);
    box.give_to_nobody();
    ASSERT_EQ(chmod(box.work.c_str(), 0555), 0);
    expect_file_kept(box, box.run("codes.txt\n", nobody), three_codes, 3);
}

// Writes a code file smaller than a 1 KiB file size limit whose output is
// larger; returns its content.
std::string write_codes_over_the_size_limit(const sandbox& box) {
    std::string codes;
    while (codes.size() < 900) codes += "1 2 3 4 5 6 7 8\r\n";
    write_file(box.work / "codes.txt", codes);
    return codes;
}

const char* const size_limit_under_wine =
    "POSIX file size limit and SIGXFSZ: under wine the limit falls on wine's own server as well";

TEST(write_back, reports_the_file_size_limit_and_keeps_the_file) {
    skip_under_wine(size_limit_under_wine);
    sandbox box;
    const std::string codes = write_codes_over_the_size_limit(box);
    expect_file_kept(box, box.run("codes.txt\n", "trap '' XFSZ; ulimit -f 1;"), codes, 53);
}

TEST(write_back, keeps_the_file_when_killed_by_the_size_limit) {
    skip_under_wine(size_limit_under_wine);
    sandbox box;
    const std::string codes = write_codes_over_the_size_limit(box);
    run_result r = box.run("codes.txt\n", "ulimit -f 1;");
    EXPECT_EQ(r.status, 128 + SIGXFSZ);
    EXPECT_EQ(read_file(box.work / "codes.txt"), codes);
}

TEST(write_back, converts_a_large_file_whole) {
    sandbox box;
    std::string codes, records;
    for (int i = 0; i < 200000; ++i) {
        std::string n = std::to_string(i);
        codes += n + " 2 3 4 5 6 7 " + n + "\r\n";
        records += n + " 2 346 7 " + n + " 5 6: 7 x " + n + " </option>\r\n";
    }
    write_file(box.work / "codes.txt", codes);
    run_result r = box.run("codes.txt\n");
    EXPECT_EQ(r.out, prompt + converted + summary(200000));
    EXPECT_TRUE(read_file(box.work / "codes.txt") == records);
}

// The command line: named files, options, and what stays as it was.
TEST(command_line, converts_named_files_in_turn_and_reports_each) {
    sandbox box;
    write_file(box.work / "a.txt", "1 2 3 4 5 6 7 8\n");
    write_file(box.work / "-x", "1 2 3 4 5 6 7 8\n\n1 2 3 4 5 6 7 8");
    run_result r = box.run_with({"a.txt", "nosuch.txt", "--", "-x"}, "ignored.txt\n");
    EXPECT_EQ(r.out, processing + "a.txt\r\n" + summary(1) + "could not open file nosuch.txt\r\n" +
                         summary(0) + processing + "-x\r\n" + summary(2));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(box.work / "a.txt"), r18);
    EXPECT_EQ(read_file(box.work / "-x"), r18 + r18);
    EXPECT_EQ(list_names(box.work), (std::set<std::string>{"-x", "a.txt"}));
}

TEST(command_line, exits_0_when_every_named_file_was_converted) {
    sandbox box;
    write_file(box.work / "a.txt", "1 2 3 4 5 6 7 8\n");
    write_file(box.work / "b.txt", "");
    run_result r = box.run_with({"a.txt", "b.txt"}, "");
    EXPECT_EQ(r.out, processing + "a.txt\r\n" + summary(1) + processing + "b.txt\r\n" + summary(0));
    EXPECT_EQ(r.status, 0);
}

TEST(command_line, reports_a_named_file_it_may_not_write_and_goes_on) {
    sandbox box;
    write_file(box.work / "ro.txt", "1 2 3 4 5 6 7 8\n");
    write_file(box.work / "rw.txt", "1 2 3 4 5 6 7 8\n");
    ASSERT_EQ(chmod((box.work / "ro.txt").c_str(), 0444), 0);
    box.give_to_nobody();
    run_result r = box.run_with({"ro.txt", "rw.txt"}, "", nobody);
    EXPECT_EQ(r.out, processing + "ro.txt\r\ncould not write file ro.txt\r\n" + summary(1) +
                         processing + "rw.txt\r\n" + summary(1));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(box.work / "ro.txt"), "1 2 3 4 5 6 7 8\n");
    EXPECT_EQ(read_file(box.work / "rw.txt"), r18);
}

TEST(command_line, prints_help_and_version_and_touches_nothing) {
    const std::string version = "code2option " CODE2OPTION_VERSION "\r\n";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--help"}, "Usage: code2option [FILE]...\r\n"},
        {{"-h"}, "Usage: code2option [FILE]...\r\n"},
        {{"codes.txt", "--help"}, "Usage: code2option [FILE]...\r\n"},
        {{"--version"}, version},
    };
    for (const auto& [arguments, first_line] : cases) {
        sandbox box;
        write_file(box.work / "codes.txt", "1 2 3 4 5 6 7 8\n");
        run_result r = box.run_with(arguments, "codes.txt\n");
        EXPECT_EQ(r.out.substr(0, first_line.size()), first_line) << arguments[0];
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(read_file(box.work / "codes.txt"), "1 2 3 4 5 6 7 8\n");
    }
}

TEST(command_line, rejects_an_unknown_option_before_converting_anything) {
    for (const std::string option : {"-x", "--bogus", "--helpme", "-help"}) {
        sandbox box;
        write_file(box.work / "codes.txt", "1 2 3 4 5 6 7 8\n");
        run_result r = box.run_with({"codes.txt", option}, "");
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err,
                  "code2option: unknown option '" + option + "'; try 'code2option --help'\r\n");
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(read_file(box.work / "codes.txt"), "1 2 3 4 5 6 7 8\n");
    }
}

TEST(command_line, a_lone_double_dash_keeps_the_dialogue) {
    sandbox box;
    write_file(box.work / "codes.txt", "1 2 3 4 5 6 7 8\n");
    run_result r = box.run_with({"--"}, "codes.txt\n");
    EXPECT_EQ(r.out, prompt + converted + summary(1));
    EXPECT_EQ(r.status, 0);
}

}  // namespace
