#include "redirect/PortScanner.h"

#include "vspdevices_ports.h"

#include <QCoreApplication>
#include <fcntl.h>
#include <unistd.h>

PortScanner::~PortScanner()
{
    setPortOpen(false);
}

std::string PortScanner::devicePath(int port)
{
    return vspdevices::portLinkPath(port);
}

void PortScanner::setPortOpen(bool open)
{
    if (open && fd_ < 0) {
        fd_ = ::open(devicePath(port_).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } else if (!open && fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool probePortOpens(std::uint8_t port, PortScanner& scanner)
{
    QCoreApplication::processEvents();
    scanner.setCommPort(port);
    scanner.setPortOpen(true);
    const bool opened = scanner.portOpen();
    if (opened)
        scanner.setPortOpen(false);
    return opened;
}
