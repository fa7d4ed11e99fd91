/*
 * standin_viewer.cpp - a stand-in for hyperhelp in the help client's tests:
 * appends one line to $HHHOME/../../viewer.log (the home, above share/qx-tarn)
 * with its arguments, the help environment and whether descriptors 0 and 1
 * are open, and ends.
 */
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    bool fd0 = fcntl(0, F_GETFD) != -1, fd1 = fcntl(1, F_GETFD) != -1;
    const char* home = getenv("HHHOME");
    const char* path = getenv("HHPATH");
    if (!home) return 1;
    std::string line;
    for (int i = 0; i < argc; i++) line += std::string(i ? "|" : "") + argv[i];
    line += std::string(" HHHOME=") + home + " HHPATH=" + (path ? path : "(unset)");
    line += std::string(" fd0=") + (fd0 ? "open" : "closed") + " fd1=" + (fd1 ? "open" : "closed");
    line += "\n";
    int fd = open((std::string(home) + "/../../viewer.log").c_str(), O_WRONLY | O_APPEND | O_CREAT,
                  0644);
    if (fd < 0) return 1;
    ssize_t n = write(fd, line.data(), line.size());
    close(fd);
    return n == (ssize_t)line.size() ? 0 : 1;
}
