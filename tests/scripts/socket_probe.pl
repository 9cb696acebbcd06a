# Connects to a Unix socket and says what answered:
#   socket_probe.pl vnc PATH   the server's first words ("RFB 003.008" from a VNC server)
#   socket_probe.pl x PATH     sends an X connection setup without any authorization: "X refused"
#                              when the X server refuses it, "X accepted" when it lets the client
#                              in; anything else is shown as it came
# "refused: WHY" when the connection itself is refused.
use strict;
use warnings;
use IO::Socket::UNIX;

my ($kind, $path) = @ARGV;
my $socket = IO::Socket::UNIX->new(Type => SOCK_STREAM(), Peer => $path);
if (!$socket) {
    print "refused: $!\n";
    exit 0;
}
# Little-endian X setup: protocol 11.0, no authorization name or data.
print $socket "l\0\x0b\0\0\0\0\0\0\0\0\0" if $kind eq 'x';
my $answer = '';
my $ready = '';
vec($ready, fileno($socket), 1) = 1;
$socket->sysread($answer, 12) if select($ready, undef, undef, 5);
if ($kind eq 'x' && length $answer > 0 && ord($answer) <= 1) {
    print ord($answer) == 0 ? "X refused\n" : "X accepted\n";
} else {
    $answer =~ s/([^\x20-\x7e])/sprintf("\\x%02X", ord $1)/ge;
    print "$answer\n";
}
