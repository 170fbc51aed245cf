# Convenience targets; the scripts do the work and their own set-up.
.PHONY: run test bench fuzz-smoke
run:
	./run.sh
test:
	./test.sh
bench:
	./bench/run.sh
fuzz-smoke:
	./fuzz/smoke.sh
