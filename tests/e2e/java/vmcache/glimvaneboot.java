// The boot class of the VM cache tests and benchmark: runs Compile as the
// launcher's boot call would run a package's main class.
public class glimvaneboot {
    public static String boot(String[] args) throws Exception {
        String[] words = new String[args.length - 5];
        System.arraycopy(args, 5, words, 0, words.length);
        Compile.main(words);
        return null;
    }
}
