// Boot-loader stand-in.
//
//   bootloader "-p PORT" FILE.hex
//
// The port comes as one argument. The file must be a well-formed Intel HEX
// file: every record starts with ':', its length matches its byte count, its
// checksum adds up to zero, and an end-of-file record closes it. Progress goes
// to standard output with CR LF line ends, as the real program prints on
// Windows. Exit status: 0 written, 1 missing or invalid file, 2 usage error.
// BOOTLOADER_STANDIN_DELAY_MS (milliseconds) slows each progress step, so a
// caller's wait can be seen at work. With BOOTLOADER_STANDIN_STALL set it hangs
// after erasing, printing nothing more, as a boot-loader that lost the unit.

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Record
{
    int type = 0;
    std::vector<unsigned char> data;
};

void say(const std::string& line)
{
    std::cout << line << "\r\n" << std::flush;
}

int fail(const std::string& message)
{
    std::cerr << message << "\r\n" << std::flush;
    return 1;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// One record line, or an error text.
std::optional<Record> parseRecord(const std::string& line, std::string& error)
{
    if (line.empty() || line[0] != ':') {
        error = "record does not start with ':'";
        return std::nullopt;
    }
    const std::string digits = line.substr(1);
    if (digits.size() % 2 != 0 || digits.size() < 10) {
        error = "record too short or odd number of digits";
        return std::nullopt;
    }
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i < digits.size(); i += 2) {
        const int high = hexDigit(digits[i]);
        const int low = hexDigit(digits[i + 1]);
        if (high < 0 || low < 0) {
            error = "not a hexadecimal digit";
            return std::nullopt;
        }
        bytes.push_back(static_cast<unsigned char>(high * 16 + low));
    }
    const size_t count = bytes[0];
    if (bytes.size() != count + 5) {
        error = "byte count does not match the record length";
        return std::nullopt;
    }
    unsigned sum = 0;
    for (unsigned char b : bytes)
        sum += b;
    if ((sum & 0xFF) != 0) {
        error = "checksum mismatch";
        return std::nullopt;
    }
    Record record;
    record.type = bytes[3];
    if (record.type > 5) {
        error = "unknown record type";
        return std::nullopt;
    }
    record.data.assign(bytes.begin() + 4, bytes.end() - 1);
    return record;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string portArgument = argc > 1 ? argv[1] : "";
    if (argc != 3 || portArgument.rfind("-p ", 0) != 0 || portArgument.size() <= 3) {
        std::cerr << "Usage: bootloader \"-p PORT\" FILE.hex\r\n";
        return 2;
    }
    const std::string port = portArgument.substr(3);
    const std::string path = argv[2];
    int delayMs = 0;
    if (const char* delay = std::getenv("BOOTLOADER_STANDIN_DELAY_MS"))
        delayMs = std::atoi(delay);

    say("Port: " + port);
    say("File: " + path);

    std::ifstream file(path, std::ios::binary);
    if (!file)
        return fail("Error: cannot open " + path);

    std::vector<Record> records;
    std::string line;
    int lineNumber = 0;
    bool ended = false;
    while (std::getline(file, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        if (ended)
            return fail("Error: line " + std::to_string(lineNumber) +
                        ": record after the end-of-file record");
        std::string error;
        const std::optional<Record> record = parseRecord(line, error);
        if (!record)
            return fail("Error: line " + std::to_string(lineNumber) + ": " + error);
        ended = record->type == 1;
        records.push_back(*record);
    }
    if (!ended)
        return fail("Error: no end-of-file record");

    size_t total = 0;
    for (const Record& record : records)
        total += record.type == 0 ? record.data.size() : 0;

    say("Erasing flash ...");
    if (std::getenv("BOOTLOADER_STANDIN_STALL"))
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
    size_t written = 0;
    int lastPercent = -1;
    for (const Record& record : records) {
        if (record.type != 0)
            continue;
        written += record.data.size();
        const int percent = total ? static_cast<int>(written * 100 / total) : 100;
        if (percent / 25 != lastPercent / 25) {
            lastPercent = percent;
            say("Writing " + std::to_string(percent) + " %");
            if (delayMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        }
    }
    say("Wrote " + std::to_string(written) + " bytes");
    say("Verify OK");
    return 0;
}
