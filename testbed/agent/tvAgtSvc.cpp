// Stand-in for the agent's service program: only its version resource matters.
int wmain() { return 0; }
