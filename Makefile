# The main commands of the project (README.md); each installs what it needs first.
.PHONY: demo test

demo:
	scripts/demo.sh

test:
	scripts/test.sh
