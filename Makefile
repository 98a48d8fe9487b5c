# The main commands of the project (README.md); each installs what it needs first.
.PHONY: demo test bench

demo:
	scripts/demo.sh

test:
	scripts/test.sh

bench:
	scripts/bench.sh
