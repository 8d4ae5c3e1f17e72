# The end-to-end test course's server: it listens at the course's address
# until the course's start has seen it answer, one connection, and then
# ends, so that no test leaves a server holding the port for the next.
import socket

with socket.create_server(("127.0.0.1", 8793)) as server:
    server.accept()[0].close()
