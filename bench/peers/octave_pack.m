% Log -> MAT the way an Octave user would: dlmread + save -v6.
% octave-cli -q --norc octave_pack.m LOG MAT
args = argv();
src = args{1};
dst = args{2};
fid = fopen(src, 'r');
skip = 0;
while true
  line = fgetl(fid);
  skip++;
  if isempty(line) || line(1) ~= '#'
    break;
  end
end
fclose(fid);
names = strsplit(strtrim(line), ' ');
d = dlmread(src, ' ', skip, 0);
s = struct();
for i = 1:numel(names)
  s.(names{i}) = d(:, i)';
end
clear d;
save('-v6', dst, '-struct', 's', names{:});
