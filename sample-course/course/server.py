"""The sample course's server: serves the pages beside it at
http://127.0.0.1:8793/ with Python's standard library only, the way a course
runs on the learner's computer once Quillby setup has installed it."""
import functools
import http.server
import os

ADDRESS = ("127.0.0.1", 8793)
PAGES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pages")


def main():
    handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=PAGES)
    with http.server.ThreadingHTTPServer(ADDRESS, handler) as server:
        print(f"Serving the course at http://{ADDRESS[0]}:{ADDRESS[1]}/", flush=True)
        server.serve_forever()


if __name__ == "__main__":
    main()
