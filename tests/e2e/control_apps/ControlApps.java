// Small applications for the end-to-end tests of the console relay and the
// control channel, one class each.
import java.io.BufferedOutputStream;
import java.io.File;
import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.util.concurrent.CountDownLatch;

// Runs 200 named threads and a ticker that prints "tick N" every 10 ms,
// prints "ready" once all run, and ends when the file args[0] exists.
class Crowd {
    public static void main(String[] args) throws Exception {
        final CountDownLatch stop = new CountDownLatch(1);
        final CountDownLatch started = new CountDownLatch(200);
        for (int i = 0; i < 200; i++) {
            Thread t = new Thread(new Runnable() {
                public void run() {
                    started.countDown();
                    try {
                        stop.await();
                    } catch (InterruptedException e) {
                        // ends the thread
                    }
                }
            }, String.format("crowd-worker-%03d", i));
            t.start();
        }
        started.await();
        Thread ticker = new Thread(new Runnable() {
            public void run() {
                for (int n = 0; stop.getCount() > 0; n++) {
                    System.out.println("tick " + n);
                    try {
                        Thread.sleep(10);
                    } catch (InterruptedException e) {
                        return;
                    }
                }
            }
        }, "crowd-ticker");
        System.out.println("ready");
        ticker.start();
        File flag = new File(args[0]);
        while (!flag.exists()) Thread.sleep(20);
        stop.countDown();
        ticker.join();
        System.out.println("done");
    }
}

// Writes args[0] lines of 64 bytes as fast as it can, numbered.
class Flood {
    public static void main(String[] args) throws IOException {
        int lines = Integer.parseInt(args[0]);
        OutputStream out = new BufferedOutputStream(new FileOutputStream(FileDescriptor.out), 1 << 16);
        byte[] line = new byte[64];
        for (int i = 0; i < lines; i++) {
            String head = String.format("%08d ", i);
            for (int k = 0; k < 63; k++) line[k] = (byte) (k < head.length() ? head.charAt(k) : 'a' + (i + k) % 26);
            line[63] = '\n';
            out.write(line);
        }
        out.flush();
    }
}

// Alternates standard output and standard error, flushing each line.
class Mixed {
    public static void main(String[] args) {
        for (int i = 0; i < 3; i++) {
            System.out.println("out " + i);
            System.err.println("err " + i);
        }
    }
}
